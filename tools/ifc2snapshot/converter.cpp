#include "converter.h"

#include "geometry.h"
#include "model_repair.h"
#include "property_sets.h"
#include "quantities.h"
#include "required_references.h"
#include "unknown_objects.h"
#include "values.h"

#include <ifcpp/model/BuildingModel.h>
#include <ifcpp/IFC4/include/IfcElement.h>
#include <ifcpp/IFC4/include/IfcFeatureElementSubtraction.h>
#include <ifcpp/IFC4/include/IfcOpeningElement.h>
#include <ifcpp/IFC4/include/IfcPort.h>
#include <ifcpp/IFC4/include/IfcProject.h>
#include <ifcpp/IFC4/include/IfcRelAggregates.h>
#include <ifcpp/IFC4/include/IfcRelContainedInSpatialStructure.h>
#include <ifcpp/IFC4/include/IfcRelFillsElement.h>
#include <ifcpp/IFC4/include/IfcRelNests.h>
#include <ifcpp/IFC4/include/IfcRelVoidsElement.h>
#include <ifcpp/IFC4/include/IfcSpatialElement.h>

#include <algorithm>

namespace ifc2snapshot {
namespace {

bool is_spatial_container(const std::string& entity) {
    return entity == "IfcProject" || entity == "IfcSite" || entity == "IfcBuilding" || entity == "IfcBuildingStorey";
}

/// The objects the viewer lists: the project and every product except voids and ports.
bool is_listed_object(const shared_ptr<BuildingEntity>& entity) {
    if (dynamic_pointer_cast<IfcProject>(entity)) return true;
    if (!dynamic_pointer_cast<IfcProduct>(entity)) return false;
    return !dynamic_pointer_cast<IfcFeatureElementSubtraction>(entity) && !dynamic_pointer_cast<IfcPort>(entity);
}

SnapshotPropertySet attribute_set(const shared_ptr<IfcObjectDefinition>& object) {
    std::vector<std::pair<std::string, shared_ptr<BuildingObject>>> attributes;
    object->getAttributes(attributes);
    auto attribute_text = [&](const char* name) {
        for (const auto& [n, v] : attributes)
            if (n == name) return as_text(value_of(v));
        return std::string();
    };

    SnapshotPropertySet set;
    set.name = attribute_set_name;
    const std::string guid = attribute_text("GlobalId");
    if (!guid.empty()) set.properties.push_back({"Guid", guid});
    set.properties.push_back({"Name", attribute_text("Name")});
    const std::string entity = object->className();
    set.properties.push_back({"IfcEntity", entity});
    std::string object_type = attribute_text("ObjectType");
    if (object_type.empty() && is_spatial_container(entity)) object_type = entity;
    set.properties.push_back({"ObjectType", object_type});
    for (const auto& [name, value] : attributes) {
        if (name == "GlobalId" || name == "OwnerHistory" || name == "Name" || name == "ObjectType") continue;
        PropertyValue v = value_of(value);
        if (!std::holds_alternative<std::monostate>(v)) set.properties.push_back({name, std::move(v)});
    }
    return set;
}

// Whether an object stands somewhere in the building's structure: contained in a spatial
// element, part of (or nested in) something that is, or filling an opening of an element that is.
bool in_structure(const IfcObjectDefinition* object, int depth = 0) {
    if (!object || depth > 64) return false;
    if (dynamic_cast<const IfcSpatialElement*>(object) || dynamic_cast<const IfcProject*>(object)) return true;
    for (const auto& weak : object->m_Decomposes_inverse)
        if (const auto rel = weak.lock(); rel && in_structure(rel->m_RelatingObject.get(), depth + 1)) return true;
    for (const auto& weak : object->m_Nests_inverse)
        if (const auto rel = weak.lock(); rel && in_structure(rel->m_RelatingObject.get(), depth + 1)) return true;
    const auto* element = dynamic_cast<const IfcElement*>(object);
    if (!element) return false;
    for (const auto& weak : element->m_ContainedInStructure_inverse)
        if (const auto rel = weak.lock(); rel && rel->m_RelatingStructure) return true;
    for (const auto& weak : element->m_FillsVoids_inverse) {
        const auto fills = weak.lock();
        const auto opening = fills ? fills->m_RelatingOpeningElement : nullptr;
        const auto voids = opening ? opening->m_VoidsElements_inverse.lock() : nullptr;
        if (voids && in_structure(voids->m_RelatingBuildingElement.get(), depth + 1)) return true;
    }
    return false;
}

// A file that lost its relationships (cut short before the first IfcRel... and closed again) or
// whose building elements stand nowhere in the building converts, but not without a word.
size_t count_relationships(const BuildingModel& model) {
    size_t relationships = 0;
    for (const auto& [id, entity] : model.getMapIfcEntities())
        if (dynamic_pointer_cast<IfcRelationship>(entity)) ++relationships;
    return relationships;
}

// `relationships`: how many the file has, before any was ignored.
void warn_if_building_missing(size_t relationships, const std::vector<shared_ptr<IfcObjectDefinition>>& objects,
                              size_t unknown, std::vector<std::string>& warnings) {
    const size_t total = objects.size() + unknown;
    if (relationships == 0) {
        warnings.push_back("the file has no relationships (IfcRel...): none of its " + std::to_string(total) +
                           (total == 1 ? " object is" : " objects is") +
                           " placed in the building's structure or has property sets or a type; it may have been cut short");
        return;
    }
    size_t elements = 0, placed = 0;
    for (const auto& object : objects) {
        if (!dynamic_pointer_cast<IfcElement>(object)) continue;
        ++elements;
        if (in_structure(object.get())) ++placed;
    }
    if (elements && !placed)
        warnings.push_back((elements == 1 ? std::string("the one building element") : "none of the " + std::to_string(elements) +
                                                                                        " building elements") +
                           " (of " + std::to_string(total) + " objects) is in " + (elements == 1 ? "no" : "a") +
                           " spatial container (a site, building, storey or space), directly or through what it is "
                           "part of: the file may have been cut short");
}

std::string base_name(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool loses_object(const UnresolvedReference& u) { return u.names_object && !u.in_file; }
bool is_missing(const UnresolvedReference& u) { return !u.in_file; }
bool any_reference(const UnresolvedReference&) { return true; }

// The first few unresolved references that `pick` takes, "#60 IFCRELAGGREGATES.RelatedObjects
// -> #500, ...".
std::string unresolved_list(const std::vector<UnresolvedReference>& refs, bool (*pick)(const UnresolvedReference&)) {
    std::string text;
    size_t shown = 0, total = 0;
    for (const auto& u : refs) {
        if (!pick(u)) continue;
        ++total;
        if (++shown > 3) continue;
        if (!text.empty()) text += ", ";
        text += "#" + std::to_string(u.from) + " " + u.keyword;
        if (!u.attribute.empty()) text += "." + u.attribute;
        text += u.unset ? std::string(" -> $") : " -> #" + std::to_string(u.to);
    }
    if (total > 3) text += ", ...";
    return text;
}

} // namespace

std::string describe_unresolved(const ConversionStats& stats) {
    const size_t total = stats.unresolved.size();
    if (total == 0) return {};
    size_t missing = 0, unknown = 0, wrong = 0, wrong_single = 0, unset = 0;
    for (const auto& u : stats.unresolved)
        ++(u.unset ? unset : u.wrong_type ? (u.in_list ? wrong : wrong_single) : u.in_file ? unknown : missing);
    const bool one = total == 1;
    std::vector<std::string> kinds;
    if (missing) kinds.push_back(one ? "to an entity missing from the file" : "to entities missing from the file");
    if (unknown) kinds.push_back(one ? "to an entity of a type the reader does not know" : "to entities of a type the reader does not know");
    if (wrong) kinds.push_back(one ? "to an entity of a type its list does not take" : "to entities of a type their list does not take");
    if (wrong_single)
        kinds.push_back(one ? "to an entity of a type its attribute does not take"
                            : "to entities of a type their attribute does not take");
    if (unset) kinds.push_back("to nothing ($ or * in a list)");
    std::string text = std::to_string(total) + (one ? " reference" : " references");
    if (kinds.size() == 1) {
        text += " " + kinds.front();
    } else {
        const size_t counts[] = {missing, unknown, wrong, wrong_single, unset};
        const char* phrases[] = {" to entities missing from the file", " to entities of a type the reader does not know",
                                 " to entities of a type their list does not take",
                                 " to entities of a type their attribute does not take", " to nothing ($ or * in a list)"};
        text += " (";
        bool first = true;
        for (int k = 0; k < 5; ++k) {
            if (!counts[k]) continue;
            text += (first ? "" : ", ") + std::to_string(counts[k]) + phrases[k];
            first = false;
        }
        text += ")";
    }
    text += " could not be resolved (" + unresolved_list(stats.unresolved, &any_reference) + ")";
    if (stats.objects_lost == 1) text += "; 1 of them stands for a building object, which is missing from the snapshot";
    else if (stats.objects_lost)
        text += "; " + std::to_string(stats.objects_lost) +
                " of them stand for building objects, which are missing from the snapshot";
    return text;
}

Snapshot convert_model(ReadModel& read, const std::string& file_name, ConversionStats* stats,
                       const ConversionOptions& options) {
    ConversionStats local;
    ConversionStats& st = stats ? *stats : local;
    st.messages.insert(st.messages.end(), read.messages.begin(), read.messages.end());
    st.unresolved = read.unresolved;
    st.objects_lost = static_cast<size_t>(std::count_if(st.unresolved.begin(), st.unresolved.end(), &loses_object));
    const auto missing = static_cast<size_t>(std::count_if(st.unresolved.begin(), st.unresolved.end(), &is_missing));
    if (missing && !options.allow_dangling) {
        // A file cut short and closed again, or damaged: something it names is not there.
        std::string text;
        const size_t others = missing - st.objects_lost;
        if (st.objects_lost) {
            text = std::to_string(st.objects_lost) +
                   (st.objects_lost == 1 ? " reference names a building object" : " references name building objects") +
                   " missing from the file (" + unresolved_list(st.unresolved, &loses_object) + ")";
            if (others) text += ", and " + std::to_string(others) + (others == 1 ? " more reference" : " more references");
        } else {
            text = std::to_string(others) + (others == 1 ? " reference" : " references");
        }
        if (others)
            text += std::string(st.objects_lost ? " to entities missing from it" : " to entities missing from the file") +
                    " (" + unresolved_list(st.unresolved, [](const UnresolvedReference& u) { return !u.in_file && !u.names_object; }) + ")";
        throw MissingObjectsError(text + ": it looks cut short or damaged");
    }

    BuildingModel& model = *read.model;
    std::vector<shared_ptr<IfcObjectDefinition>> objects;
    bool any_product = false;
    for (const auto& [id, entity] : model.getMapIfcEntities()) {
        if (!entity || id < 0 || !is_listed_object(entity)) continue;
        objects.push_back(dynamic_pointer_cast<IfcObjectDefinition>(entity));
        if (dynamic_pointer_cast<IfcProduct>(entity)) any_product = true;
    }
    const auto unknown = unknown_objects(read);
    if (!any_product && unknown.empty())
        throw ReadError("the file holds no building object (no product: a type or property library?)");

    for (const DuplicateId& d : read.duplicates) {
        std::string lines;
        for (size_t k = 0; k < d.lines.size() && k < 4; ++k)
            lines += (k == 0 ? "" : k + 1 == d.lines.size() ? " and " : ", ") + std::to_string(d.lines[k]);
        if (d.lines.size() > 4) lines += ", ...";
        st.warnings.push_back("#" + std::to_string(d.id) + " is given to " + std::to_string(d.lines.size()) +
                              " instances (lines " + lines + "): the first is read, the others are ignored");
    }
    // Required references that are empty or of the wrong type: the library follows them unchecked.
    const size_t relationships = count_relationships(model);
    const std::vector<ReferenceFault> faults = find_reference_faults(read);
    for (std::string& warning : ignore_faulty_relationships(model, faults)) st.warnings.push_back(std::move(warning));
    for (std::string& warning : describe_other_faults(faults)) st.warnings.push_back(std::move(warning));
    for (std::string& warning : break_structure_cycles(model)) st.warnings.push_back(std::move(warning));
    for (std::string& warning : break_geometry_cycles(model, faults)) st.warnings.push_back(std::move(warning));
    warn_if_building_missing(relationships, objects, unknown.size(), st.warnings);
    if (const size_t dropped = drop_trimmings_past_a_million(model))
        st.messages.push_back(std::to_string(dropped) +
                              (dropped == 1 ? " trimmed circle or ellipse is" : " trimmed circles or ellipses are") +
                              " trimmed at a million or more: that trimming is dropped");
    st.faces_reordered = put_outer_bounds_first(model);
    if (st.faces_reordered)
        st.messages.push_back(std::to_string(st.faces_reordered) +
                              " faces listed a hole before their outer bound: the outer bound is taken first");
    if (const size_t split = split_composite_extrusions(model))
        st.messages.push_back(std::to_string(split) +
                              (split == 1 ? " extrusion of a composite profile is" : " extrusions of composite profiles are") +
                              " measured part by part");
    if (const size_t named = name_unnamed_properties(model))
        st.messages.push_back(std::to_string(named) + (named == 1 ? " property has" : " properties have") + " no name");
    if (const size_t placed = place_unplaced_openings(model))
        st.messages.push_back(std::to_string(placed) +
                              (placed == 1 ? " opening has" : " openings have") +
                              " no placement of its own: placed with the element it voids");
    const std::vector<GeometryMeasure> geometry = measure_geometry(read, objects, st.messages);
    const ProjectUnits units = project_units(model);

    Snapshot snapshot;
    snapshot.files.push_back(file_name);
    snapshot.objects.reserve(objects.size());
    for (size_t i = 0; i < objects.size(); ++i) {
        const auto& object = objects[i];
        SnapshotObject out;
        out.id = static_cast<std::uint64_t>(object->m_entity_id);
        out.property_sets.push_back(attribute_set(object));

        const Definitions defs = definitions_of(object);
        add_property_sets(defs, out.property_sets);

        // The area is always the surface area of the object's own faces when it has any (the
        // viewer adds these up as surface areas); the file's quantities stand in only for what
        // the geometry does not give: a volume where no mesh is closed, an area where there is
        // no mesh at all.
        const MeshMeasure& mesh = geometry[i].mesh;
        out.bounds = mesh.has_mesh ? mesh.bounds : geometry[i].parts_bounds;
        if (mesh.has_mesh) {
            ++st.with_mesh;
            out.area = mesh.area;
        }
        if (mesh.all_closed) {
            out.volume = mesh.volume;
            ++st.closed_mesh;
            if (mesh.closed_by_turning) ++st.closed_by_turning;
            if (mesh.closed_by_joining) ++st.closed_by_joining;
        } else {
            const FileQuantities q = file_quantities(defs, units);
            if (q.volume) {
                out.volume = *q.volume;
                ++st.volume_from_quantities;
            }
            if (!mesh.has_mesh && q.area) {
                out.area = *q.area;
                ++st.area_from_quantities;
            }
        }

        const auto& identity = out.property_sets.front();
        if (identity.find("Guid")) ++st.with_guid;
        if (is_spatial_container(std::get<std::string>(identity.find("ObjectType")->value))) ++st.spatial_containers;
        snapshot.objects.push_back(std::move(out));
    }

    // Objects the reader could not make: what the file states of them, without geometry.
    std::vector<std::string> unknown_names;
    for (const auto& u : unknown) {
        std::string entity;
        SnapshotObject out = unknown_object(u, entity);
        const FileQuantities q = file_quantities(u.defs, units);
        if (q.volume) {
            out.volume = *q.volume;
            ++st.volume_from_quantities;
        }
        if (q.area) {
            out.area = *q.area;
            ++st.area_from_quantities;
        }
        if (out.property_sets.front().find("Guid")) ++st.with_guid;
        unknown_names.push_back("#" + std::to_string(u.instance->id) + " " + entity);
        snapshot.objects.push_back(std::move(out));
    }
    if (!unknown_names.empty()) {
        std::stable_sort(snapshot.objects.begin(), snapshot.objects.end(),
                         [](const SnapshotObject& a, const SnapshotObject& b) { return a.id < b.id; });
        std::string line = std::to_string(unknown_names.size()) +
                           (unknown_names.size() == 1 ? " object is of a type" : " objects are of types") +
                           " the reader does not know and arrive" + (unknown_names.size() == 1 ? "s" : "") +
                           " with attributes and properties but without geometry (";
        for (size_t k = 0; k < unknown_names.size() && k < 3; ++k) line += (k ? ", " : "") + unknown_names[k];
        line += unknown_names.size() > 3 ? ", ...)" : ")";
        st.warnings.push_back(line);
    }
    st.objects = snapshot.objects.size();
    return snapshot;
}

Snapshot convert_ifc_file(const std::string& path, ConversionStats* stats, const ConversionOptions& options) {
    ReadModel read = read_ifc_file(path);
    return convert_model(read, base_name(path), stats, options);
}

} // namespace ifc2snapshot
