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

struct ConversionOptions {
    /// Convert even when references to missing entities stand where a relationship names its
    /// building objects (those objects are then missing from the snapshot).
    bool allow_dangling = false;
};

struct ConversionStats {
    size_t objects = 0;
    size_t with_guid = 0;
    size_t spatial_containers = 0;    // IfcProject, IfcSite, IfcBuilding, IfcBuildingStorey
    size_t with_mesh = 0;              // their area is the mesh's surface area
    size_t closed_mesh = 0;            // their volume is the mesh's
    size_t closed_by_turning = 0;      // of those, closed once faces were turned consistently
    size_t closed_by_joining = 0;      // of those, closed once T-junctions were joined
    size_t volume_from_quantities = 0;  // no closed mesh: the file's volume quantity
    size_t area_from_quantities = 0;    // no mesh: the file's area quantity
    size_t faces_reordered = 0;        // faces whose outer bound was not listed first
    std::vector<UnresolvedReference> unresolved;  // references to entities missing from the file
    size_t objects_lost = 0;           // of those, the ones where a relationship names an object
    std::vector<std::string> warnings;  // repairs the user should know of: one line each
    std::vector<std::string> messages;  // what the reader and the geometry converter reported
};

/// One line on the references that could not be resolved, naming the first few; empty when
/// there are none.
std::string describe_unresolved(const ConversionStats& stats);

/// A file whose relationships name building objects that are missing from it.
class MissingObjectsError : public ReadError {
public:
    using ReadError::ReadError;
};

/// Converts a model that read_ifc_file read. file_name goes into "files". Throws ReadError when
/// the model holds no building object (no product) or its geometry cannot be converted at all,
/// and MissingObjectsError when relationships name objects missing from the file (unless
/// options.allow_dangling). Cycles in the project structure are broken first (see
/// model_repair.h), each with a warning.
Snapshot convert_model(ReadModel& read, const std::string& file_name, ConversionStats* stats = nullptr,
                       const ConversionOptions& options = {});

/// Reads and converts the file at path; "files" holds the file's name without its folder.
Snapshot convert_ifc_file(const std::string& path, ConversionStats* stats = nullptr,
                          const ConversionOptions& options = {});

} // namespace ifc2snapshot
