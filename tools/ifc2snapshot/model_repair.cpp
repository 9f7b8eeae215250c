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

std::string name_of(const BuildingEntity* e) {
    return "#" + std::to_string(e->m_entity_id) + " " + e->className();
}

// "#30 IfcBuildingStorey > #50 IfcBuildingElementProxy > #30": the cycle that the link from the
// last node of a depth-first path to `to`, a node on that path, closes. Long ones are shortened.
template <class Frame>
std::string cycle_text(const std::vector<Frame>& path, const BuildingEntity* to) {
    size_t start = path.size();
    while (start > 0 && path[start - 1].node != to) --start;
    if (start > 0) --start;
    const size_t length = path.size() - start;
    std::string cycle;
    for (size_t k = start; k < path.size(); ++k) {
        if (length > 8 && k == start + 4) {
            cycle += "... > ";
            k = path.size() - 4;
        }
        cycle += name_of(path[k].node) + " > ";
    }
    return cycle + "#" + std::to_string(to->m_entity_id);
}

// A link of the structure as the geometry converter walks it: `rel` lists `child` among the
// parts or contents of its parent.
struct Link {
    BuildingEntity* rel;
    IfcObjectDefinition* child;
};

std::vector<Link> links_of(IfcObjectDefinition& parent) {
    std::vector<Link> links;
    for (const auto& weak : parent.m_IsDecomposedBy_inverse)
        if (const auto rel = weak.lock())
            for (const auto& child : rel->m_RelatedObjects)
                if (child) links.push_back({rel.get(), child.get()});
    if (auto* spatial = dynamic_cast<IfcSpatialStructureElement*>(&parent))
        for (const auto& weak : spatial->m_ContainsElements_inverse)
            if (const auto rel = weak.lock())
                for (const auto& child : rel->m_RelatedElements)
                    if (child) links.push_back({rel.get(), child.get()});
    return links;
}

template <class Vector>
void erase_child(Vector& v, const IfcObjectDefinition* child) {
    v.erase(std::remove_if(v.begin(), v.end(), [&](const auto& p) { return p.get() == child; }), v.end());
}

void remove_link(const Link& link) {
    if (auto* aggregates = dynamic_cast<IfcRelAggregates*>(link.rel)) erase_child(aggregates->m_RelatedObjects, link.child);
    else if (auto* contained = dynamic_cast<IfcRelContainedInSpatialStructure*>(link.rel))
        erase_child(contained->m_RelatedElements, link.child);
}

// The pieces of geometry that the geometry converter follows links between: representations,
// their items (curves, surfaces, solids, segments, mapped items, ...), profiles and maps.
bool is_geometry(const BuildingEntity* e) {
    return dynamic_cast<const IfcRepresentationItem*>(e) || dynamic_cast<const IfcProfileDef*>(e) ||
           dynamic_cast<const IfcRepresentationMap*>(e) || dynamic_cast<const IfcRepresentation*>(e);
}

void add_geometry_references(const shared_ptr<BuildingObject>& value, std::vector<BuildingEntity*>& out) {
    if (!value) return;
    if (const auto* list = dynamic_cast<const AttributeObjectVector*>(value.get())) {
        for (const auto& item : list->m_vec) add_geometry_references(item, out);
    } else if (auto* entity = dynamic_cast<BuildingEntity*>(value.get()); entity && is_geometry(entity)) {
        out.push_back(entity);
    }
}

// The geometry that a piece of geometry names in its attributes.
std::vector<BuildingEntity*> geometry_references(const BuildingEntity& e) {
    std::vector<BuildingEntity*> out;
    // The most numerous ones hold numbers only.
    if (dynamic_cast<const IfcCartesianPoint*>(&e) || dynamic_cast<const IfcDirection*>(&e)) return out;
    std::vector<std::pair<std::string, shared_ptr<BuildingObject>>> attributes;
    e.getAttributes(attributes);
    for (const auto& attribute : attributes) add_geometry_references(attribute.second, out);
    return out;
}

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

std::vector<std::string> break_structure_cycles(BuildingModel& model) {
    enum Colour { unseen = 0, on_path, done };
    std::unordered_map<const IfcObjectDefinition*, Colour> colour;
    struct Frame {
        IfcObjectDefinition* node;
        std::vector<Link> links;
        size_t next = 0;
    };
    std::vector<Link> closing;
    std::vector<std::string> warnings;
    std::vector<Frame> path;

    for (const auto& [id, entity] : model.getMapIfcEntities()) {
        auto* root = dynamic_cast<IfcObjectDefinition*>(entity.get());
        if (!root || colour[root] != unseen) continue;
        colour[root] = on_path;
        path.push_back({root, links_of(*root)});
        while (!path.empty()) {
            Frame& top = path.back();
            if (top.next == top.links.size()) {
                colour[top.node] = done;
                path.pop_back();
                continue;
            }
            const Link link = top.links[top.next++];
            Colour& c = colour[link.child];
            if (c == unseen) {
                c = on_path;
                path.push_back({link.child, links_of(*link.child)});
            } else if (c == on_path) {
                closing.push_back(link);
                warnings.push_back("structure cycle " + cycle_text(path, link.child) + ": the link from #" +
                                   std::to_string(top.node->m_entity_id) + " to #" +
                                   std::to_string(link.child->m_entity_id) + " in " + name_of(link.rel) + " is ignored");
            }
        }
    }
    for (const Link& link : closing) remove_link(link);
    return warnings;
}

std::vector<std::string> break_geometry_cycles(BuildingModel& model) {
    // A depth-first search over the links of the geometry. Each node learns the first cycle that
    // it lies on or leads to (an index into `faults`, -1 for none) and the longest chain of links
    // that starts from it: a node is done only once everything it leads to is, so what it learnt
    // then is final. A chain longer than the converter's stack takes is a fault of its own, one
    // for all such chains.
    constexpr size_t deepest = 500;
    struct Node {
        bool on_path = false;
        bool done = false;
        int cycle = -1;
        size_t height = 1;
    };
    struct Frame {
        BuildingEntity* node;
        std::vector<BuildingEntity*> next;
        size_t taken = 0;
    };
    std::unordered_map<const BuildingEntity*, Node> nodes;
    std::vector<std::string> faults;  // "cycle #204 IfcTrimmedCurve > #204", ...
    int too_deep = -1;
    std::vector<Frame> path;

    for (const auto& [id, entity] : model.getMapIfcEntities()) {
        if (!entity || !is_geometry(entity.get()) || nodes[entity.get()].done) continue;
        nodes[entity.get()].on_path = true;
        path.push_back({entity.get(), geometry_references(*entity)});
        while (!path.empty()) {
            Frame& top = path.back();
            Node& here = nodes[top.node];
            if (top.taken == top.next.size()) {
                here.on_path = false;
                here.done = true;
                if (here.height > deepest && here.cycle < 0) {
                    if (too_deep < 0) {
                        too_deep = static_cast<int>(faults.size());
                        faults.push_back("nested more than " + std::to_string(deepest) + " deep");
                    }
                    here.cycle = too_deep;
                }
                const Node finished = here;
                path.pop_back();
                if (!path.empty()) {
                    Node& parent = nodes[path.back().node];
                    if (finished.cycle >= 0 && parent.cycle < 0) parent.cycle = finished.cycle;
                    parent.height = std::max(parent.height, finished.height + 1);
                }
                continue;
            }
            BuildingEntity* next = top.next[top.taken++];
            Node& there = nodes[next];
            if (there.done) {
                if (there.cycle >= 0 && here.cycle < 0) here.cycle = there.cycle;
                here.height = std::max(here.height, there.height + 1);
            } else if (there.on_path) {
                const int cycle = static_cast<int>(faults.size());
                faults.push_back("cycle " + cycle_text(path, next));
                for (size_t k = path.size(); k-- > 0;) {
                    Node& member = nodes[path[k].node];
                    if (member.cycle < 0) member.cycle = cycle;
                    if (path[k].node == next) break;
                }
            } else {
                there.on_path = true;
                path.push_back({next, geometry_references(*next)});
            }
        }
    }
    if (faults.empty()) return {};

    std::vector<std::vector<std::string>> left_out(faults.size());
    for (const auto& [id, entity] : model.getMapIfcEntities()) {
        auto* representation = dynamic_cast<IfcRepresentation*>(entity.get());
        if (!representation) continue;
        auto& items = representation->m_Items;
        items.erase(std::remove_if(items.begin(), items.end(),
                                   [&](const shared_ptr<IfcRepresentationItem>& item) {
                                       const auto found = nodes.find(item.get());
                                       if (!item || found == nodes.end() || found->second.cycle < 0) return false;
                                       left_out[found->second.cycle].push_back(name_of(item.get()) + " in " +
                                                                                name_of(representation));
                                       return true;
                                   }),
                    items.end());
    }
    std::vector<std::string> warnings;
    for (size_t c = 0; c < faults.size(); ++c) {
        const auto& items = left_out[c];
        std::string line = "geometry " + faults[c] + ": ";
        if (items.empty()) {
            line += "no representation item leads to it";
        } else {
            line += "left out with the representation items that lead to it (";
            for (size_t k = 0; k < items.size() && k < 3; ++k) line += (k ? ", " : "") + items[k];
            line += items.size() > 3 ? ", ...)" : ")";
        }
        warnings.push_back(std::move(line));
    }
    return warnings;
}

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
