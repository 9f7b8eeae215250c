#include "quantities.h"

#include "values.h"

#include <ifcpp/model/BuildingModel.h>
#include <ifcpp/IFC4/include/IfcAreaMeasure.h>
#include <ifcpp/IFC4/include/IfcConversionBasedUnit.h>
#include <ifcpp/IFC4/include/IfcElementQuantity.h>
#include <ifcpp/IFC4/include/IfcLabel.h>
#include <ifcpp/IFC4/include/IfcMeasureWithUnit.h>
#include <ifcpp/IFC4/include/IfcNamedUnit.h>
#include <ifcpp/IFC4/include/IfcProject.h>
#include <ifcpp/IFC4/include/IfcQuantityArea.h>
#include <ifcpp/IFC4/include/IfcQuantityVolume.h>
#include <ifcpp/IFC4/include/IfcSIPrefix.h>
#include <ifcpp/IFC4/include/IfcSIUnit.h>
#include <ifcpp/IFC4/include/IfcUnitAssignment.h>
#include <ifcpp/IFC4/include/IfcUnitEnum.h>
#include <ifcpp/IFC4/include/IfcValue.h>
#include <ifcpp/IFC4/include/IfcVolumeMeasure.h>

namespace ifc2snapshot {
namespace {

double prefix_factor(const std::string& step) {
    static const std::pair<const char*, double> prefixes[] = {
        {".EXA.", 1e18}, {".PETA.", 1e15}, {".TERA.", 1e12}, {".GIGA.", 1e9}, {".MEGA.", 1e6},
        {".KILO.", 1e3}, {".HECTO.", 1e2}, {".DECA.", 1e1}, {".DECI.", 1e-1}, {".CENTI.", 1e-2},
        {".MILLI.", 1e-3}, {".MICRO.", 1e-6}, {".NANO.", 1e-9}, {".PICO.", 1e-12},
        {".FEMTO.", 1e-15}, {".ATTO.", 1e-18}};
    for (const auto& [name, factor] : prefixes)
        if (step == name) return factor;
    return 1.0;
}

/// Factor from the unit to the SI base unit (m, m2, m3, ...).
double unit_factor(const shared_ptr<IfcNamedUnit>& unit, int depth = 0) {
    if (!unit || depth > 4) return 1.0;
    if (const auto si = dynamic_pointer_cast<IfcSIUnit>(unit)) {
        if (!si->m_Prefix) return 1.0;
        const double p = prefix_factor(step_text(*si->m_Prefix));
        const std::string type = si->m_UnitType ? step_text(*si->m_UnitType) : std::string();
        if (type == ".AREAUNIT.") return p * p;
        if (type == ".VOLUMEUNIT.") return p * p * p;
        return p;
    }
    if (const auto converted = dynamic_pointer_cast<IfcConversionBasedUnit>(unit)) {
        const auto& factor = converted->m_ConversionFactor;
        if (!factor) return 1.0;
        const PropertyValue v = value_of(factor->m_ValueComponent);
        const double* number = std::get_if<double>(&v);
        if (!number) return 1.0;
        return *number * unit_factor(dynamic_pointer_cast<IfcNamedUnit>(factor->m_UnitComponent), depth + 1);
    }
    return 1.0;
}

std::optional<double> pick_quantity(const std::vector<std::pair<std::string, double>>& found,
                                    std::initializer_list<const char*> preferred) {
    for (const char* name : preferred)
        for (const auto& [n, v] : found)
            if (n == name) return v;
    if (!found.empty()) return found.front().second;
    return std::nullopt;
}

} // namespace

ProjectUnits project_units(BuildingModel& model) {
    ProjectUnits units;
    const auto project = model.getIfcProject();
    if (!project || !project->m_UnitsInContext) return units;
    for (const auto& u : project->m_UnitsInContext->m_Units) {
        const auto named = dynamic_pointer_cast<IfcNamedUnit>(u);
        if (!named || !named->m_UnitType) continue;
        const std::string type = step_text(*named->m_UnitType);
        if (type == ".AREAUNIT.") units.area = unit_factor(named);
        if (type == ".VOLUMEUNIT.") units.volume = unit_factor(named);
    }
    return units;
}

FileQuantities file_quantities(const Definitions& defs, const ProjectUnits& units) {
    std::vector<std::pair<std::string, double>> volumes, areas;
    auto scan = [&](const std::vector<shared_ptr<IfcPropertySetDefinition>>& list) {
        for (const auto& d : list) {
            const auto qset = dynamic_pointer_cast<IfcElementQuantity>(d);
            if (!qset) continue;
            for (const auto& q : qset->m_Quantities) {
                if (const auto v = dynamic_pointer_cast<IfcQuantityVolume>(q); v && v->m_VolumeValue) {
                    const double f = v->m_Unit ? unit_factor(v->m_Unit) : units.volume;
                    volumes.emplace_back(label_text(v->m_Name), v->m_VolumeValue->m_value * f);
                } else if (const auto a = dynamic_pointer_cast<IfcQuantityArea>(q); a && a->m_AreaValue) {
                    const double f = a->m_Unit ? unit_factor(a->m_Unit) : units.area;
                    areas.emplace_back(label_text(a->m_Name), a->m_AreaValue->m_value * f);
                }
            }
        }
    };
    scan(defs.own);
    scan(defs.inherited);
    FileQuantities q;
    q.volume = pick_quantity(volumes, {"NetVolume", "GrossVolume"});
    q.area = pick_quantity(areas, {"NetSurfaceArea", "GrossSurfaceArea", "TotalSurfaceArea", "OuterSurfaceArea",
                                   "NetArea", "GrossArea", "NetSideArea", "GrossSideArea", "NetFloorArea",
                                   "GrossFloorArea"});
    return q;
}

} // namespace ifc2snapshot
