// IFC model to viewer snapshot: the objects, their attributes and property sets, and their
// measured geometry.
#pragma once

#include "ifc_reader.h"
#include "snapshot.h"

#include <cstddef>
#include <string>

namespace ifc2snapshot {

/// The name of set 0, which holds "Guid", "Name", "IfcEntity", "ObjectType" and the object's
/// other direct attributes.
inline constexpr const char* attribute_set_name = "Atributos";

struct ConversionStats {
    size_t objects = 0;
    size_t with_guid = 0;
    size_t spatial_containers = 0;    // IfcProject, IfcSite, IfcBuilding, IfcBuildingStorey
    size_t with_mesh = 0;
    size_t measured_from_mesh = 0;     // volume and area from a closed mesh
    size_t measured_from_quantities = 0;
    size_t area_from_open_mesh = 0;    // open mesh, no area quantity: the faces' area
    std::vector<std::string> messages;  // what the reader and the geometry converter reported
};

/// Converts a model that read_ifc_file read. file_name goes into "files". Throws ReadError when
/// the model holds no building object (no product) or its geometry cannot be converted at all.
Snapshot convert_model(ReadModel& read, const std::string& file_name, ConversionStats* stats = nullptr);

/// Reads and converts the file at path; "files" holds the file's name without its folder.
Snapshot convert_ifc_file(const std::string& path, ConversionStats* stats = nullptr);

} // namespace ifc2snapshot
