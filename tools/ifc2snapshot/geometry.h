// The geometry conversion: every object's meshes measured (bounds, area, volume).
#pragma once

#include "ifc_reader.h"
#include "mesh_measure.h"

#include <ifcpp/IFC4/include/IfcObjectDefinition.h>

#include <array>
#include <string>
#include <vector>

namespace ifc2snapshot {

struct GeometryMeasure {
    MeshMeasure mesh;
    std::array<double, 6> parts_bounds{};  // of an aggregate without a mesh of its own
};

/// Converts the geometry and measures every object's meshes, all inside a fixed heap (see
/// fixed_heap.h) so the meshes are the same on every run. Only the returned figures and
/// messages, made outside that heap, outlive it. Throws ReadError when the geometry cannot be
/// converted at all.
std::vector<GeometryMeasure> measure_geometry(ReadModel& read, const std::vector<shared_ptr<IfcObjectDefinition>>& objects,
                                              std::vector<std::string>& messages);

} // namespace ifc2snapshot
