// The file's own volume and area quantities, in SI units.
#pragma once

#include "property_sets.h"

#include <optional>

class BuildingModel;

namespace ifc2snapshot {

/// Factors from the project's area and volume units to m2 and m3.
struct ProjectUnits {
    double area = 1.0;
    double volume = 1.0;
};

ProjectUnits project_units(BuildingModel& model);

struct FileQuantities {
    std::optional<double> volume;
    std::optional<double> area;
};

/// The volume and area the object's quantity sets state, then its type's: volume "NetVolume",
/// else "GrossVolume", else the first volume; area by a list of names, else the first area.
FileQuantities file_quantities(const Definitions& defs, const ProjectUnits& units);

} // namespace ifc2snapshot
