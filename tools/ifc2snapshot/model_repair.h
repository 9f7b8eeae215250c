// Repairs made to a model after reading and before the geometry converter walks it.
#pragma once

#include "required_references.h"

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

/// The geometry converter follows the links between pieces of geometry (a trimmed curve to the
/// curve it trims, a composite curve to its segments' curves, a boolean result to its operands,
/// a mapped item to its map's representation, a surface to the one it bounds, ...) without
/// remembering where it has been, so geometry that contains itself, directly or through others,
/// recurses until the stack overflows; so does a chain of such links thousands long. Every
/// representation item that leads to such a cycle, or starts a chain more than 500 links long,
/// is taken out of its representation: its object arrives without it. Returns one warning per
/// cycle (and one for all chains too long), naming it and the items taken out.
///
/// The same is done for the geometry among `faults` (required references that the model lacks,
/// which the converter follows unchecked: an oriented edge without its edge, ...): every item that
/// leads to one is left out, one warning per kind of fault; a representation with a fault of its
/// own is left out with all its items.
std::vector<std::string> break_geometry_cycles(BuildingModel& model, const std::vector<ReferenceFault>& faults = {});

/// The geometry converter brings a circle's trimming angles into one turn by taking off a turn
/// at a time, so a trimming at 1E16 degrees takes days. A trimmed circle's or ellipse's
/// trimming parameter of a million or more (or not a number) is dropped: that end is trimmed
/// as if the file gave no parameter. Returns how many curves changed.
size_t drop_trimmings_past_a_million(BuildingModel& model);

/// The geometry converter takes a face's first bound as its outer boundary, so a face that
/// lists a hole first fails to triangulate and is lost. Puts the IfcFaceOuterBound first, or,
/// in a face without one, the polygon bound of the largest area. Returns how many faces changed.
size_t put_outer_bounds_first(BuildingModel& model);

/// An opening may have no placement of its own (ObjectPlacement unset), but the geometry
/// converter's opening subtraction dereferences it unchecked. Such an opening is given the
/// placement of the element it voids (a local placement relative to it, at its origin), or the
/// world's when that element has none either. Returns how many openings were placed.
size_t place_unplaced_openings(BuildingModel& model);

/// The geometry converter joins the profiles of an IfcCompositeProfileDef into one profile whose
/// first loop is the outer boundary and the others holes, so an extrusion of side-by-side parts
/// fails to triangulate and has no volume. Each such IfcExtrudedAreaSolid among a
/// representation's items is replaced by one extrusion per part (nested composites flattened):
/// the solid's volume and area become the sum of its parts'. Returns how many solids changed.
size_t split_composite_extrusions(BuildingModel& model);

/// The geometry converter reads every property's Name unchecked (looking for appearance
/// properties): a property without one (`$`, or a reference the reader could not take) gets an
/// empty name, which is what the snapshot shows for it anyway. Returns how many were named.
size_t name_unnamed_properties(BuildingModel& model);

} // namespace ifc2snapshot
