#include "model_repair.h"

#include <ifcpp/model/AttributeObject.h>
#include <ifcpp/model/BuildingModel.h>
#include <ifcpp/IFC4/include/IfcAxis2Placement3D.h>
#include <ifcpp/IFC4/include/IfcCartesianPoint.h>
#include <ifcpp/IFC4/include/IfcCompositeProfileDef.h>
#include <ifcpp/IFC4/include/IfcConic.h>
#include <ifcpp/IFC4/include/IfcDirection.h>
#include <ifcpp/IFC4/include/IfcElement.h>
#include <ifcpp/IFC4/include/IfcExtrudedAreaSolid.h>
#include <ifcpp/IFC4/include/IfcFace.h>
#include <ifcpp/IFC4/include/IfcFaceOuterBound.h>
#include <ifcpp/IFC4/include/IfcFeatureElementSubtraction.h>
#include <ifcpp/IFC4/include/IfcIdentifier.h>
#include <ifcpp/IFC4/include/IfcProperty.h>
#include <ifcpp/IFC4/include/IfcLengthMeasure.h>
#include <ifcpp/IFC4/include/IfcLocalPlacement.h>
#include <ifcpp/IFC4/include/IfcObjectDefinition.h>
#include <ifcpp/IFC4/include/IfcParameterValue.h>
#include <ifcpp/IFC4/include/IfcPolyLoop.h>
#include <ifcpp/IFC4/include/IfcProduct.h>
#include <ifcpp/IFC4/include/IfcRelAggregates.h>
#include <ifcpp/IFC4/include/IfcRelContainedInSpatialStructure.h>
#include <ifcpp/IFC4/include/IfcRelVoidsElement.h>
#include <ifcpp/IFC4/include/IfcRepresentation.h>
#include <ifcpp/IFC4/include/IfcRepresentationItem.h>
#include <ifcpp/IFC4/include/IfcRepresentationMap.h>
#include <ifcpp/IFC4/include/IfcSpatialStructureElement.h>
#include <ifcpp/IFC4/include/IfcTrimmedCurve.h>

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace ifc2snapshot {
namespace {

// Newell's area of a polygon bound; 0 for other kinds of loop.
double bound_area(const IfcFaceBound& bound) {
    const auto loop = dynamic_pointer_cast<IfcPolyLoop>(bound.m_Bound);
    if (!loop) return 0;
    double n[3] = {0, 0, 0};
    auto coordinate = [](const shared_ptr<IfcCartesianPoint>& p, size_t k) {
        return p && k < p->m_Coordinates.size() && p->m_Coordinates[k] ? p->m_Coordinates[k]->m_value : 0.0;
    };
    const auto& ring = loop->m_Polygon;
    for (size_t i = 0; i < ring.size(); ++i) {
        const auto& a = ring[i];
        const auto& b = ring[(i + 1) % ring.size()];
        const double ax = coordinate(a, 0), ay = coordinate(a, 1), az = coordinate(a, 2);
        const double bx = coordinate(b, 0), by = coordinate(b, 1), bz = coordinate(b, 2);
        n[0] += ay * bz - az * by;
        n[1] += az * bx - ax * bz;
        n[2] += ax * by - ay * bx;
    }
    return 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
}

// The parts of a composite profile, nested composites flattened (a composite that contains
// itself, directly or not, is cut off).
void profile_parts(const shared_ptr<IfcProfileDef>& profile, std::vector<shared_ptr<IfcProfileDef>>& out, int depth = 0) {
    const auto composite = dynamic_pointer_cast<IfcCompositeProfileDef>(profile);
    if (!composite) {
        if (profile) out.push_back(profile);
        return;
    }
    if (depth > 8) return;
    for (const auto& part : composite->m_Profiles) profile_parts(part, out, depth + 1);
}

} // namespace

size_t drop_trimmings_past_a_million(BuildingModel& model) {
    auto past = [](const shared_ptr<IfcTrimmingSelect>& trim) {
        const auto parameter = dynamic_pointer_cast<IfcParameterValue>(trim);
        return parameter && !(std::fabs(parameter->m_value) < 1e6);
    };
    size_t changed = 0;
    for (const auto& [id, entity] : model.getMapIfcEntities()) {
        auto* curve = dynamic_cast<IfcTrimmedCurve*>(entity.get());
        if (!curve || !dynamic_pointer_cast<IfcConic>(curve->m_BasisCurve)) continue;
        bool dropped = false;
        for (auto* trims : {&curve->m_Trim1, &curve->m_Trim2}) {
            const auto kept = std::remove_if(trims->begin(), trims->end(), past);
            dropped = dropped || kept != trims->end();
            trims->erase(kept, trims->end());
        }
        if (dropped) ++changed;
    }
    return changed;
}

size_t put_outer_bounds_first(BuildingModel& model) {
    size_t changed = 0;
    for (const auto& [id, entity] : model.getMapIfcEntities()) {
        auto* face = dynamic_cast<IfcFace*>(entity.get());
        if (!face || face->m_Bounds.size() < 2) continue;
        auto& bounds = face->m_Bounds;
        auto outer = std::find_if(bounds.begin(), bounds.end(),
                                  [](const auto& b) { return dynamic_pointer_cast<IfcFaceOuterBound>(b) != nullptr; });
        if (outer == bounds.end()) {
            double largest = -1;
            for (auto it = bounds.begin(); it != bounds.end(); ++it) {
                const double a = *it ? bound_area(**it) : -1;
                if (a > largest) {
                    largest = a;
                    outer = it;
                }
            }
        }
        if (outer == bounds.begin() || outer == bounds.end()) continue;
        std::rotate(bounds.begin(), outer, outer + 1);
        ++changed;
    }
    return changed;
}

size_t place_unplaced_openings(BuildingModel& model) {
    size_t placed = 0;
    for (const auto& [id, entity] : model.getMapIfcEntities()) {
        const auto voids = dynamic_pointer_cast<IfcRelVoidsElement>(entity);
        if (!voids || !voids->m_RelatedOpeningElement || voids->m_RelatedOpeningElement->m_ObjectPlacement) continue;
        auto origin = std::make_shared<IfcCartesianPoint>();
        for (int k = 0; k < 3; ++k) origin->m_Coordinates.push_back(std::make_shared<IfcLengthMeasure>(0.0));
        auto axes = std::make_shared<IfcAxis2Placement3D>();
        axes->m_Location = origin;
        auto placement = std::make_shared<IfcLocalPlacement>();
        placement->m_RelativePlacement = axes;
        if (voids->m_RelatingBuildingElement) placement->m_PlacementRelTo = voids->m_RelatingBuildingElement->m_ObjectPlacement;
        voids->m_RelatedOpeningElement->m_ObjectPlacement = placement;
        ++placed;
    }
    return placed;
}

size_t split_composite_extrusions(BuildingModel& model) {
    size_t changed = 0;
    for (const auto& [id, entity] : model.getMapIfcEntities()) {
        auto* representation = dynamic_cast<IfcRepresentation*>(entity.get());
        if (!representation) continue;
        std::vector<shared_ptr<IfcRepresentationItem>> items;
        bool split = false;
        for (const auto& item : representation->m_Items) {
            const auto solid = dynamic_pointer_cast<IfcExtrudedAreaSolid>(item);
            // Only the plain extrusion: a tapered one has a second profile to match.
            if (!solid || std::string_view(solid->className()) != "IfcExtrudedAreaSolid" ||
                !dynamic_pointer_cast<IfcCompositeProfileDef>(solid->m_SweptArea)) {
                items.push_back(item);
                continue;
            }
            std::vector<shared_ptr<IfcProfileDef>> parts;
            profile_parts(solid->m_SweptArea, parts);
            for (const auto& part : parts) {
                auto piece = std::make_shared<IfcExtrudedAreaSolid>(solid->m_entity_id);
                piece->m_SweptArea = part;
                piece->m_Position = solid->m_Position;
                piece->m_ExtrudedDirection = solid->m_ExtrudedDirection;
                piece->m_Depth = solid->m_Depth;
                items.push_back(piece);
            }
            split = true;
            ++changed;
        }
        if (split) representation->m_Items = std::move(items);
    }
    return changed;
}

size_t name_unnamed_properties(BuildingModel& model) {
    size_t named = 0;
    for (const auto& [id, entity] : model.getMapIfcEntities()) {
        auto* property = dynamic_cast<IfcProperty*>(entity.get());
        if (!property || property->m_Name) continue;
        property->m_Name = std::make_shared<IfcIdentifier>(std::wstring());
        ++named;
    }
    return named;
}

} // namespace ifc2snapshot
