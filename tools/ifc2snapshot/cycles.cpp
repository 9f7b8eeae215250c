// The cycles (and the chains too deep) that the geometry converter would recurse into without
// end, found without recursing and cut.
#include "model_repair.h"

#include <ifcpp/model/AttributeObject.h>
#include <ifcpp/model/BuildingModel.h>
#include <ifcpp/IFC4/include/IfcCartesianPoint.h>
#include <ifcpp/IFC4/include/IfcDirection.h>
#include <ifcpp/IFC4/include/IfcObjectDefinition.h>
#include <ifcpp/IFC4/include/IfcProfileDef.h>
#include <ifcpp/IFC4/include/IfcRelAggregates.h>
#include <ifcpp/IFC4/include/IfcRelContainedInSpatialStructure.h>
#include <ifcpp/IFC4/include/IfcRepresentation.h>
#include <ifcpp/IFC4/include/IfcRepresentationItem.h>
#include <ifcpp/IFC4/include/IfcRepresentationMap.h>
#include <ifcpp/IFC4/include/IfcSpatialStructureElement.h>

#include <algorithm>
#include <set>
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

std::vector<std::string> break_geometry_cycles(BuildingModel& model, const std::vector<ReferenceFault>& reference_faults) {
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
    // Faults reached through a node that learnt another one first: the items that lead to them
    // are left out and named under that other fault.
    std::set<int> shadowed;
    // A piece of geometry that lacks a required reference is a fault of its own kind: what leads
    // to it learns it as it would learn a cycle.
    std::unordered_map<const BuildingEntity*, int> broken;
    const std::vector<FaultKind> broken_geometry = geometry_fault_kinds(reference_faults);
    const size_t broken_kinds = broken_geometry.size();  // the first faults
    for (const FaultKind& kind : broken_geometry) {
        const int fault = static_cast<int>(faults.size());
        faults.push_back("with a broken reference: " + kind.text);
        for (const ReferenceFault* f : kind.faults) {
            broken.emplace(f->entity.get(), fault);
            Node& node = nodes[f->entity.get()];
            if (node.cycle < 0) node.cycle = fault;
        }
    }

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
                    else if (finished.cycle >= 0 && parent.cycle != finished.cycle) shadowed.insert(finished.cycle);
                    parent.height = std::max(parent.height, finished.height + 1);
                }
                continue;
            }
            BuildingEntity* next = top.next[top.taken++];
            Node& there = nodes[next];
            if (there.done) {
                if (there.cycle >= 0 && here.cycle < 0) here.cycle = there.cycle;
                else if (there.cycle >= 0 && here.cycle != there.cycle) shadowed.insert(there.cycle);
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
        if (const auto own = broken.find(representation); own != broken.end()) {
            for (const auto& item : items)
                if (item) left_out[own->second].push_back(name_of(item.get()) + " in " + name_of(representation));
            items.clear();
            continue;
        }
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
        if (items.empty() && shadowed.count(static_cast<int>(c))) {
            line += "left out with the representation items that lead to it, which another warning names";
        } else if (items.empty()) {
            line += "no representation item leads to it";
            if (broken_kinds > c) line += "; read without it";  // a placement's, say
        } else {
            line += "left out with the representation items that lead to it (";
            for (size_t k = 0; k < items.size() && k < 3; ++k) line += (k ? ", " : "") + items[k];
            line += items.size() > 3 ? ", ...)" : ")";
        }
        warnings.push_back(std::move(line));
    }
    return warnings;
}

} // namespace ifc2snapshot
