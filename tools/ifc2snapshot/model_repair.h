// Repairs made to a model after reading and before the geometry converter walks it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class BuildingModel;

namespace ifc2snapshot {

/// The geometry converter walks the project structure (aggregation, then containment in
/// spatial structure elements) without remembering where it has been, so a cycle in it (an
/// object that aggregates itself, a storey contained in an element that it aggregates, ...)
/// recurses without end. Every link that closes a cycle is taken out of its relationship; the
/// objects themselves stay. Returns one warning per link taken out, naming the cycle and the
/// relationship.
std::vector<std::string> break_structure_cycles(BuildingModel& model);

/// The geometry converter takes a face's first bound as its outer boundary, so a face that
/// lists a hole first fails to triangulate and is lost. Puts the IfcFaceOuterBound first, or,
/// in a face without one, the polygon bound of the largest area. Returns how many faces changed.
size_t put_outer_bounds_first(BuildingModel& model);

} // namespace ifc2snapshot
