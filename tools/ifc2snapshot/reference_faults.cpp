// Required single references that a model lacks: found from the schema's table, and the
// relationships that hold them ignored.
#include "required_references.h"

#include "ifc_reader.h"
#include "text.h"

#include <ifcpp/model/AttributeObject.h>
#include <ifcpp/model/BuildingModel.h>
#include <ifcpp/IFC4/include/IfcObjectDefinition.h>
#include <ifcpp/IFC4/include/IfcProfileDef.h>
#include <ifcpp/IFC4/include/IfcRelationship.h>
#include <ifcpp/IFC4/include/IfcRepresentation.h>
#include <ifcpp/IFC4/include/IfcRepresentationItem.h>
#include <ifcpp/IFC4/include/IfcRepresentationMap.h>

#include <algorithm>
#include <map>
#include <tuple>
#include <unordered_map>

namespace ifc2snapshot {
namespace {

struct Schema {
    std::unordered_map<std::string, std::vector<std::string>> names;
    std::unordered_map<std::string, std::string> entities;  // "IFCDIRECTION" -> "IfcDirection"
    std::unordered_map<std::string, std::vector<const RequiredReference*>> required;
};

const Schema& schema() {
    static const Schema s = [] {
        Schema s;
        for (size_t k = 0; k < entity_attribute_count; ++k) {
            const EntityAttributes& e = entity_attribute_table[k];
            s.entities.emplace(e.keyword, e.name);
            std::vector<std::string>& names = s.names[e.keyword];
            const std::string all = e.attributes;
            for (size_t start = 0; start < all.size();) {
                size_t end = all.find(',', start);
                if (end == std::string::npos) end = all.size();
                names.push_back(all.substr(start, end - start));
                start = end + 1;
            }
        }
        for (size_t k = 0; k < required_reference_count; ++k)
            s.required[required_reference_table[k].entity].push_back(&required_reference_table[k]);
        return s;
    }();
    return s;
}

std::string name_of(const BuildingEntity* e) { return "#" + std::to_string(e->m_entity_id) + " " + e->className(); }

// "IfcOrientedEdge.EdgeElement"
std::string where(const ReferenceFault& f) { return std::string(f.entity->className()) + "." + f.rule->attribute; }

// What a fault's cause says after the attribute.
std::string cause_text(const ReferenceFault& f) {
    switch (f.cause) {
    case ReferenceFault::Cause::empty:
        return "is empty";
    case ReferenceFault::Cause::missing:
        return "names #" + std::to_string(f.to) + ", which is missing from the file";
    case ReferenceFault::Cause::unknown_type:
        return "names #" + std::to_string(f.to) + ", of a type the reader does not know";
    case ReferenceFault::Cause::wrong_type:
        return "points at #" + std::to_string(f.to) + " " + entity_name(f.to_keyword) + ", which it does not take (it takes " +
               f.rule->type + ")";
    }
    return {};
}

// Faults of one kind (entity type, attribute and cause), in STEP id order, reported together.
std::vector<std::vector<const ReferenceFault*>> by_kind(const std::vector<const ReferenceFault*>& faults) {
    std::map<std::tuple<std::string, std::string, int>, std::vector<const ReferenceFault*>> kinds;
    std::vector<std::tuple<std::string, std::string, int>> order;
    for (const ReferenceFault* f : faults) {
        auto key = std::make_tuple(std::string(f->entity->className()), std::string(f->rule->attribute),
                                   static_cast<int>(f->cause));
        auto& list = kinds[key];
        if (list.empty()) order.push_back(key);
        list.push_back(f);
    }
    std::vector<std::vector<const ReferenceFault*>> out;
    for (const auto& key : order) out.push_back(kinds[key]);
    return out;
}

// "#946 IfcOrientedEdge.EdgeElement is empty", or for several "IfcOrientedEdge.EdgeElement is
// empty in 3 instances (#946, #947, #948)".
std::string describe_kind(const std::vector<const ReferenceFault*>& kind) {
    if (kind.size() == 1) return describe_fault(*kind.front());
    const ReferenceFault& first = *kind.front();
    std::string text = where(first) + " ";
    switch (first.cause) {
    case ReferenceFault::Cause::empty: text += "is empty"; break;
    case ReferenceFault::Cause::missing: text += "names entities missing from the file"; break;
    case ReferenceFault::Cause::unknown_type: text += "names entities of types the reader does not know"; break;
    case ReferenceFault::Cause::wrong_type:
        text += std::string("points at entities it does not take (it takes ") + first.rule->type + ")";
        break;
    }
    text += " in " + std::to_string(kind.size()) + " instances (";
    for (size_t k = 0; k < kind.size() && k < 3; ++k) {
        text += (k ? ", #" : "#") + std::to_string(kind[k]->entity->m_entity_id);
        if (kind[k]->cause != ReferenceFault::Cause::empty) text += " -> #" + std::to_string(kind[k]->to);
        if (kind[k]->cause == ReferenceFault::Cause::wrong_type) text += " " + entity_name(kind[k]->to_keyword);
    }
    return text + (kind.size() > 3 ? ", ...)" : ")");
}

void add_objects(const shared_ptr<BuildingObject>& value, std::vector<const IfcObjectDefinition*>& out) {
    if (!value) return;
    if (const auto* list = dynamic_cast<const AttributeObjectVector*>(value.get())) {
        for (const auto& item : list->m_vec) add_objects(item, out);
    } else if (const auto* object = dynamic_cast<const IfcObjectDefinition*>(value.get())) {
        if (std::find(out.begin(), out.end(), object) == out.end()) out.push_back(object);
    }
}

// What the objects of a relationship lose when it is ignored: "loses a property or quantity set".
std::string what_is_lost(const std::string& relationship, const std::string& attribute, bool several) {
    auto verb = [&](const char* one, const char* more) { return std::string(several ? more : one); };
    if (relationship == "IfcRelDefinesByProperties") return verb("loses", "lose") + " a property or quantity set";
    if (relationship == "IfcRelDefinesByType") return verb("loses its type", "lose their type") + " and the type's property sets";
    if (relationship == "IfcRelContainedInSpatialStructure")
        return verb("loses its", "lose their") + " place in the building's structure";
    if (relationship == "IfcRelAggregates" || relationship == "IfcRelNests")
        return attribute == "RelatingObject" ? verb("is no longer part of a whole", "are no longer parts of a whole")
                                             : verb("loses its parts", "lose their parts");
    if (relationship == "IfcRelVoidsElement")
        return attribute == "RelatingBuildingElement" ? verb("is not cut out of anything", "are not cut out of anything")
                                                      : verb("loses an opening", "lose an opening");
    if (relationship == "IfcRelFillsElement") return verb("loses what fills an opening", "lose what fills an opening");
    if (relationship == "IfcRelAssociatesMaterial") return verb("loses its material", "lose their material");
    if (relationship == "IfcRelSpaceBoundary") return verb("loses a space boundary", "lose a space boundary");
    if (relationship == "IfcRelAssociatesClassification") return verb("loses a classification", "lose a classification");
    return verb("loses what it relates it to", "lose what it relates them to");
}

} // namespace

const std::vector<std::string>* attribute_names(const std::string& keyword) {
    const auto& names = schema().names;
    const auto found = names.find(keyword);
    return found == names.end() ? nullptr : &found->second;
}

std::string entity_name(const std::string& keyword) {
    const auto& entities = schema().entities;
    const auto found = entities.find(keyword);
    return found == entities.end() ? keyword : found->second;
}

std::vector<const RequiredReference*> required_references(const std::string& keyword) {
    const auto& required = schema().required;
    const auto found = required.find(keyword);
    return found == required.end() ? std::vector<const RequiredReference*>() : found->second;
}

std::vector<ReferenceFault> find_reference_faults(const ReadModel& read) {
    // Why the reader left an attribute unset, where the file named something there.
    std::map<std::pair<int, size_t>, const UnresolvedReference*> unresolved;
    for (const auto& u : read.unresolved)
        if (!u.in_list && !u.unset) unresolved.emplace(std::make_pair(u.from, u.argument), &u);

    std::string schema_name = read.schema;
    make_upper_ascii(schema_name);
    const bool ifc2x3 = schema_name.rfind("IFC2X3", 0) == 0;
    std::vector<ReferenceFault> faults;
    std::unordered_map<std::string, std::vector<const RequiredReference*>> rules;
    std::vector<std::pair<std::string, shared_ptr<BuildingObject>>> attributes;
    for (const auto& [id, entity] : read.model->getMapIfcEntities()) {
        if (!entity || id < 0) continue;
        std::string keyword = entity->className();
        make_upper_ascii(keyword);
        auto found = rules.find(keyword);
        if (found == rules.end()) found = rules.emplace(keyword, required_references(keyword)).first;
        if (found->second.empty()) continue;
        attributes.clear();
        entity->getAttributes(attributes);  // single attributes are all there, set or not
        for (const RequiredReference* rule : found->second) {
            if (ifc2x3 && rule->optional_in_ifc2x3) continue;
            const auto attribute = std::find_if(attributes.begin(), attributes.end(),
                                                [&](const auto& a) { return a.first == rule->attribute; });
            if (attribute != attributes.end() && attribute->second) continue;
            ReferenceFault f;
            f.entity = entity;
            f.rule = rule;
            const auto why = unresolved.find({id, rule->argument});
            if (why != unresolved.end()) {
                const UnresolvedReference& u = *why->second;
                f.to = u.to;
                f.to_keyword = u.to_keyword;
                f.cause = u.wrong_type                           ? ReferenceFault::Cause::wrong_type
                          : u.in_file                            ? ReferenceFault::Cause::unknown_type
                                                                 : ReferenceFault::Cause::missing;
            }
            faults.push_back(std::move(f));
        }
    }
    return faults;
}

std::string describe_fault(const ReferenceFault& fault) {
    return "#" + std::to_string(fault.entity->m_entity_id) + " " + where(fault) + " " + cause_text(fault);
}

bool is_geometry_fault(const ReferenceFault& fault) {
    const BuildingEntity* e = fault.entity.get();
    return dynamic_cast<const IfcRepresentationItem*>(e) || dynamic_cast<const IfcProfileDef*>(e) ||
           dynamic_cast<const IfcRepresentationMap*>(e) || dynamic_cast<const IfcRepresentation*>(e);
}

std::vector<FaultKind> geometry_fault_kinds(const std::vector<ReferenceFault>& faults) {
    std::vector<const ReferenceFault*> geometry;
    for (const auto& f : faults)
        if (is_geometry_fault(f)) geometry.push_back(&f);
    std::vector<FaultKind> kinds;
    for (auto& kind : by_kind(geometry)) kinds.push_back({describe_kind(kind), std::move(kind)});
    return kinds;
}

std::vector<std::string> ignore_faulty_relationships(BuildingModel& model, const std::vector<ReferenceFault>& faults) {
    std::vector<const ReferenceFault*> relationships;
    for (const auto& f : faults)
        if (dynamic_cast<const IfcRelationship*>(f.entity.get())) relationships.push_back(&f);
    std::vector<std::string> warnings;
    std::vector<std::pair<std::string, shared_ptr<BuildingObject>>> attributes;
    for (const auto& kind : by_kind(relationships)) {
        std::vector<const IfcObjectDefinition*> objects;
        for (const ReferenceFault* f : kind) {
            attributes.clear();
            f->entity->getAttributes(attributes);
            for (const auto& a : attributes) add_objects(a.second, objects);
        }
        std::string line = describe_kind(kind) + ": " + (kind.size() == 1 ? "the relationship is" : "they are") + " ignored";
        const std::string lost = what_is_lost(kind.front()->entity->className(), kind.front()->rule->attribute,
                                              objects.size() > 1);
        if (objects.empty()) {
            line += " (it relates no object)";
        } else {
            line += ", and ";
            if (objects.size() > 3) line += std::to_string(objects.size()) + " objects (";
            for (size_t k = 0; k < objects.size() && k < 3; ++k) line += (k ? ", " : "") + name_of(objects[k]);
            if (objects.size() > 3) line += ", ...)";
            line += " " + lost;
        }
        warnings.push_back(std::move(line));
    }
    // Taken out of the model, and out of the inverse links of what it names, so that neither the
    // geometry converter nor the property sets see it.
    for (const ReferenceFault* f : relationships) {
        if (model.getMapIfcEntities().count(f->entity->m_entity_id) == 0) continue;  // a second fault of it
        f->entity->unlinkFromInverseCounterparts();
        model.removeEntity(f->entity);
    }
    return warnings;
}

std::vector<std::string> describe_other_faults(const std::vector<ReferenceFault>& faults) {
    std::vector<const ReferenceFault*> others;
    for (const auto& f : faults)
        if (!is_geometry_fault(f) && !dynamic_cast<const IfcRelationship*>(f.entity.get())) others.push_back(&f);
    std::vector<std::string> warnings;
    for (const auto& kind : by_kind(others))
        warnings.push_back(describe_kind(kind) + ", which the schema does not allow: read without it");
    return warnings;
}

} // namespace ifc2snapshot
