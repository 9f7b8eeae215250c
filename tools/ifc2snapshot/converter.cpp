#include "converter.h"

#include "fixed_heap.h"
#include "library_output.h"
#include "mesh_measure.h"
#include "model_repair.h"
#include "text.h"

#include <ifcpp/geometry/Carve/GeometryConverter.h>
#include <ifcpp/model/AttributeObject.h>
#include <ifcpp/model/BuildingModel.h>
#include <ifcpp/IFC4/include/IfcAreaMeasure.h>
#include <ifcpp/IFC4/include/IfcComplexProperty.h>
#include <ifcpp/IFC4/include/IfcConversionBasedUnit.h>
#include <ifcpp/IFC4/include/IfcElementQuantity.h>
#include <ifcpp/IFC4/include/IfcFeatureElementSubtraction.h>
#include <ifcpp/IFC4/include/IfcGloballyUniqueId.h>
#include <ifcpp/IFC4/include/IfcIdentifier.h>
#include <ifcpp/IFC4/include/IfcLabel.h>
#include <ifcpp/IFC4/include/IfcMeasureWithUnit.h>
#include <ifcpp/IFC4/include/IfcNamedUnit.h>
#include <ifcpp/IFC4/include/IfcPhysicalComplexQuantity.h>
#include <ifcpp/IFC4/include/IfcPhysicalSimpleQuantity.h>
#include <ifcpp/IFC4/include/IfcPort.h>
#include <ifcpp/IFC4/include/IfcProject.h>
#include <ifcpp/IFC4/include/IfcPropertyBoundedValue.h>
#include <ifcpp/IFC4/include/IfcPropertyEnumeratedValue.h>
#include <ifcpp/IFC4/include/IfcPropertyListValue.h>
#include <ifcpp/IFC4/include/IfcPropertySet.h>
#include <ifcpp/IFC4/include/IfcPropertySetDefinitionSet.h>
#include <ifcpp/IFC4/include/IfcPropertySingleValue.h>
#include <ifcpp/IFC4/include/IfcQuantityArea.h>
#include <ifcpp/IFC4/include/IfcQuantityVolume.h>
#include <ifcpp/IFC4/include/IfcRelDefinesByProperties.h>
#include <ifcpp/IFC4/include/IfcRelDefinesByType.h>
#include <ifcpp/IFC4/include/IfcSIPrefix.h>
#include <ifcpp/IFC4/include/IfcSIUnit.h>
#include <ifcpp/IFC4/include/IfcSpatialElement.h>
#include <ifcpp/IFC4/include/IfcTypeObject.h>
#include <ifcpp/IFC4/include/IfcUnitAssignment.h>
#include <ifcpp/IFC4/include/IfcUnitEnum.h>
#include <ifcpp/IFC4/include/IfcValue.h>
#include <ifcpp/IFC4/include/IfcVolumeMeasure.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <locale>
#include <set>
#include <sstream>

namespace ifc2snapshot {
namespace {

// ---------------------------------------------------------------------------------------------
// Values

// The value as the STEP writer would put it, with full precision and no locale.
std::string step_text(const BuildingObject& object) {
    std::stringstream s;
    s.imbue(std::locale::classic());
    s.precision(17);
    object.getStepParameter(s, false);
    return s.str();
}

std::string number_text(double v) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

std::string as_text(const PropertyValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* number = std::get_if<double>(&value)) return number_text(*number);
    return {};
}

PropertyValue value_of(const shared_ptr<BuildingObject>& object);

PropertyValue joined(const std::vector<PropertyValue>& values) {
    std::vector<PropertyValue> present;
    for (const auto& v : values)
        if (!std::holds_alternative<std::monostate>(v)) present.push_back(v);
    if (present.empty()) return std::monostate{};
    if (present.size() == 1) return present.front();
    std::string text;
    for (size_t i = 0; i < present.size(); ++i) {
        if (i) text += ", ";
        text += as_text(present[i]);
    }
    return text;
}

/// Text for strings, labels and enumerations, a number for measures, counts and integers;
/// absent for unset values and for references to other entities.
PropertyValue value_of(const shared_ptr<BuildingObject>& object) {
    if (!object) return std::monostate{};
    if (dynamic_pointer_cast<BuildingEntity>(object)) return std::monostate{};
    if (const auto vector = dynamic_pointer_cast<AttributeObjectVector>(object)) {
        std::vector<PropertyValue> values;
        for (const auto& element : vector->m_vec) values.push_back(value_of(element));
        return joined(values);
    }
    if (const auto b = dynamic_pointer_cast<BoolAttribute>(object)) return std::string(b->m_value ? "TRUE" : "FALSE");
    if (const auto l = dynamic_pointer_cast<LogicalAttribute>(object))
        return std::string(l->m_value == LOGICAL_TRUE ? "TRUE" : l->m_value == LOGICAL_FALSE ? "FALSE" : "UNKNOWN");
    if (const auto i = dynamic_pointer_cast<IntegerAttribute>(object)) return static_cast<double>(i->m_value);
    if (const auto r = dynamic_pointer_cast<RealAttribute>(object)) return r->m_value;
    if (const auto s = dynamic_pointer_cast<StringAttribute>(object)) return to_utf8(s->m_value);
    if (dynamic_pointer_cast<BinaryAttribute>(object)) return std::monostate{};

    const std::string step = step_text(*object);
    if (step.empty() || step == "$" || step == "*") return std::monostate{};
    if (step.front() == '\'') return to_utf8(object->toString());
    if (step.size() >= 2 && step.front() == '.' && step.back() == '.') {
        const std::string name = step.substr(1, step.size() - 2);
        if (name == "T") return std::string("TRUE");
        if (name == "F") return std::string("FALSE");
        if (name == "U") return std::string("UNKNOWN");
        return name;
    }
    if (const auto number = parse_step_number(step)) return *number;
    return to_utf8(std::wstring(step.begin(), step.end()));
}

template <class Label>
std::string label_text(const shared_ptr<Label>& label) {
    return label ? to_utf8(label->m_value) : std::string();
}

// ---------------------------------------------------------------------------------------------
// Units of the file's own quantities

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

struct ProjectUnits {
    double area = 1.0;
    double volume = 1.0;
};

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

// ---------------------------------------------------------------------------------------------
// Property sets

void add_property(const shared_ptr<IfcProperty>& property, const std::string& prefix,
                  std::vector<SnapshotProperty>& out, int depth = 0) {
    if (!property || depth > 8) return;
    const std::string name = prefix + label_text(property->m_Name);
    if (const auto single = dynamic_pointer_cast<IfcPropertySingleValue>(property)) {
        PropertyValue v = value_of(single->m_NominalValue);
        if (std::holds_alternative<std::monostate>(v)) v = std::string();
        out.push_back({name, std::move(v)});
        return;
    }
    auto list_value = [](const std::vector<shared_ptr<IfcValue>>& values) {
        std::vector<PropertyValue> parts;
        for (const auto& v : values) parts.push_back(value_of(v));
        PropertyValue result = joined(parts);
        if (std::holds_alternative<std::monostate>(result)) result = std::string();
        return result;
    };
    if (const auto enumerated = dynamic_pointer_cast<IfcPropertyEnumeratedValue>(property)) {
        out.push_back({name, list_value(enumerated->m_EnumerationValues)});
        return;
    }
    if (const auto list = dynamic_pointer_cast<IfcPropertyListValue>(property)) {
        out.push_back({name, list_value(list->m_ListValues)});
        return;
    }
    if (const auto bounded = dynamic_pointer_cast<IfcPropertyBoundedValue>(property)) {
        const PropertyValue lower = value_of(bounded->m_LowerBoundValue);
        const PropertyValue upper = value_of(bounded->m_UpperBoundValue);
        const bool has_lower = !std::holds_alternative<std::monostate>(lower);
        const bool has_upper = !std::holds_alternative<std::monostate>(upper);
        if (has_lower && has_upper) out.push_back({name, as_text(lower) + " - " + as_text(upper)});
        else if (has_lower) out.push_back({name, lower});
        else if (has_upper) out.push_back({name, upper});
        else out.push_back({name, as_text(value_of(bounded->m_SetPointValue))});
        return;
    }
    if (const auto complex = dynamic_pointer_cast<IfcComplexProperty>(property)) {
        for (const auto& child : complex->m_HasProperties) add_property(child, name + ".", out, depth + 1);
        return;
    }
    out.push_back({name, std::string()});  // reference and table values: the name alone
}

void add_quantity(const shared_ptr<IfcPhysicalQuantity>& quantity, const std::string& prefix,
                  std::vector<SnapshotProperty>& out, int depth = 0) {
    if (!quantity || depth > 8) return;
    const std::string name = prefix + label_text(quantity->m_Name);
    if (const auto complex = dynamic_pointer_cast<IfcPhysicalComplexQuantity>(quantity)) {
        for (const auto& child : complex->m_HasQuantities) add_quantity(child, name + ".", out, depth + 1);
        return;
    }
    // LengthValue, AreaValue, VolumeValue, CountValue, WeightValue, TimeValue
    std::vector<std::pair<std::string, shared_ptr<BuildingObject>>> attributes;
    quantity->getAttributes(attributes);
    for (const auto& [attribute, value] : attributes) {
        if (attribute.size() > 5 && attribute.compare(attribute.size() - 5, 5, "Value") == 0) {
            PropertyValue v = value_of(value);
            if (std::holds_alternative<std::monostate>(v)) v = std::string();
            out.push_back({name, std::move(v)});
            return;
        }
    }
}

SnapshotPropertySet convert_definition(const shared_ptr<IfcPropertySetDefinition>& definition) {
    SnapshotPropertySet set;
    set.name = definition->m_Name ? to_utf8(definition->m_Name->m_value) : std::string(definition->className());
    if (const auto pset = dynamic_pointer_cast<IfcPropertySet>(definition)) {
        for (const auto& p : pset->m_HasProperties) add_property(p, "", set.properties);
    } else if (const auto qset = dynamic_pointer_cast<IfcElementQuantity>(definition)) {
        for (const auto& q : qset->m_Quantities) add_quantity(q, "", set.properties);
    } else {
        // Predefined property sets (door and window lining, ...) carry their values as attributes.
        std::vector<std::pair<std::string, shared_ptr<BuildingObject>>> attributes;
        definition->getAttributes(attributes);
        for (const auto& [attribute, value] : attributes) {
            if (attribute == "GlobalId" || attribute == "OwnerHistory" || attribute == "Name" || attribute == "Description")
                continue;
            PropertyValue v = value_of(value);
            if (!std::holds_alternative<std::monostate>(v)) set.properties.push_back({attribute, std::move(v)});
        }
    }
    return set;
}

void collect_definitions(const shared_ptr<IfcPropertySetDefinitionSelect>& select,
                         std::vector<shared_ptr<IfcPropertySetDefinition>>& out) {
    if (const auto single = dynamic_pointer_cast<IfcPropertySetDefinition>(select)) out.push_back(single);
    else if (const auto many = dynamic_pointer_cast<IfcPropertySetDefinitionSet>(select))
        for (const auto& d : many->m_vec)
            if (d) out.push_back(d);
}

/// The object's own property and quantity sets, then those of its type object.
struct Definitions {
    std::vector<shared_ptr<IfcPropertySetDefinition>> own;
    std::vector<shared_ptr<IfcPropertySetDefinition>> inherited;
};

template <class WithIsDefinedBy>
void collect_own(const WithIsDefinedBy& object, Definitions& defs) {
    for (const auto& weak : object.m_IsDefinedBy_inverse)
        if (const auto rel = weak.lock()) collect_definitions(rel->m_RelatingPropertyDefinition, defs.own);
}

Definitions definitions_of(const shared_ptr<IfcObjectDefinition>& object) {
    Definitions defs;
    if (const auto o = dynamic_pointer_cast<IfcObject>(object)) {
        collect_own(*o, defs);
        for (const auto& weak : o->m_IsTypedBy_inverse) {
            const auto rel = weak.lock();
            if (!rel || !rel->m_RelatingType) continue;
            for (const auto& d : rel->m_RelatingType->m_HasPropertySets)
                if (d) defs.inherited.push_back(d);
        }
    } else if (const auto c = dynamic_pointer_cast<IfcContext>(object)) {
        collect_own(*c, defs);
    }
    return defs;
}

// ---------------------------------------------------------------------------------------------
// The file's own volume and area

std::optional<double> pick_quantity(const std::vector<std::pair<std::string, double>>& found,
                                    std::initializer_list<const char*> preferred) {
    for (const char* name : preferred)
        for (const auto& [n, v] : found)
            if (n == name) return v;
    if (!found.empty()) return found.front().second;
    return std::nullopt;
}

struct FileQuantities {
    std::optional<double> volume;
    std::optional<double> area;
};

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

// ---------------------------------------------------------------------------------------------
// Objects

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

void union_bounds(std::array<double, 6>& into, bool& any, const std::array<double, 6>& b) {
    if (!any) {
        into = b;
        any = true;
        return;
    }
    for (int k = 0; k < 3; ++k) {
        into[k] = std::min(into[k], b[k]);
        into[k + 3] = std::max(into[k + 3], b[k + 3]);
    }
}

// Bounds of an aggregate without geometry of its own (a stair of flights, a roof of slabs):
// the union of its parts'.
void parts_bounds(ProductShapeData& shape, std::array<double, 6>& into, bool& any, int depth = 0) {
    if (depth > 16) return;
    for (const auto& child : shape.getChildren()) {
        if (!child) continue;
        const MeshMeasure m = measure_product(*child);
        if (m.has_mesh) union_bounds(into, any, m.bounds);
        parts_bounds(*child, into, any, depth + 1);
    }
}

// Circles and arcs become polygons inscribed in them. With 48 vertices a full circle encloses
// 0.29 % less than the true area; larger radii take more, so that no chord lies more than 1 mm
// inside the true curve. A multiple of four, starting at angle 0, puts vertices on both axes of
// the circle's own placement, so its box is the true one there.
int vertices_per_circle(double radius_m) {
    constexpr int least = 48, most = 360;
    constexpr double max_sagitta_m = 0.001;
    if (!(radius_m > max_sagitta_m)) return least;
    const double n = 3.14159265358979323846 / std::acos(1.0 - max_sagitta_m / radius_m);
    if (!(n < most)) return most;
    const int rounded = (static_cast<int>(std::ceil(n)) + 3) / 4 * 4;
    return std::max(least, rounded);
}

struct GeometryMeasure {
    MeshMeasure mesh;
    std::array<double, 6> parts_bounds{};  // of an aggregate without a mesh of its own
};

void keep_geometry_message(void* target, shared_ptr<StatusCallback::Message> m) {
    if (!m) return;
    if (m->m_message_type == StatusCallback::MESSAGE_TYPE_WARNING || m->m_message_type == StatusCallback::MESSAGE_TYPE_ERROR) {
        FixedHeapScope::Pause outlives_the_conversion;
        std::string text = to_utf8(m->m_message_text);
        if (m->m_entity) text = "#" + std::to_string(m->m_entity->m_entity_id) + ": " + text;
        static_cast<std::vector<std::string>*>(target)->push_back(std::move(text));
    }
}

/// Converts the geometry and measures every object's meshes, all inside a fixed heap (see
/// fixed_heap.h) so the meshes are the same on every run. Only the returned figures and
/// messages, made outside that heap, outlive it.
std::vector<GeometryMeasure> measure_geometry(ReadModel& read, const std::vector<shared_ptr<IfcObjectDefinition>>& objects,
                                              std::vector<std::string>& messages) {
    std::vector<GeometryMeasure> measured(objects.size());
    std::string failure;
    LibraryOutput library_output;
    {
        FixedHeapScope heap;
        if (!heap.active()) {
            FixedHeapScope::Pause outside;
            messages.push_back("the geometry is converted on the ordinary heap: meshes may vary between runs");
        }
        GeometryConverter geometry(read.model);
        geometry.getGeomSettings()->setNumVerticesPerCircle(vertices_per_circle(0));
        geometry.getGeomSettings()->setNumVerticesPerCircleGivenRadius(&vertices_per_circle);
        geometry.setMessageCallBack(&messages, &keep_geometry_message);
        try {
            geometry.convertGeometry();
        } catch (const std::exception& e) {
            FixedHeapScope::Pause outside;
            failure = std::string("the geometry could not be converted: ") + e.what();
        } catch (const carve::exception& e) {
            FixedHeapScope::Pause outside;
            failure = "the geometry could not be converted: " + e.str();
        }
        geometry.unsetMessageCallBack();
        if (failure.empty()) {
            auto& shapes = geometry.getShapeInputData();
            for (size_t i = 0; i < objects.size(); ++i) {
                const auto& object = objects[i];
                const auto shape = shapes.find(object->m_entity_id);
                if (shape == shapes.end() || !shape->second) continue;
                measured[i].mesh = measure_product(*shape->second);
                if (!measured[i].mesh.has_mesh && !dynamic_pointer_cast<IfcSpatialElement>(object) &&
                    !dynamic_pointer_cast<IfcProject>(object)) {
                    bool any = false;
                    parts_bounds(*shape->second, measured[i].parts_bounds, any);
                }
            }
        }
    }
    library_output.finish(messages);
    if (!failure.empty()) throw ReadError(failure);
    return measured;
}

/// The object's sets in order, each name once: its own sets, a later one of the same name
/// adding only the properties the earlier ones lack; then its type's sets, merged the same way,
/// so a property the occurrence sets overrides the type's while the type's other properties
/// stay.
void add_property_sets(const Definitions& defs, std::vector<SnapshotPropertySet>& out) {
    const size_t first = out.size();
    std::set<const IfcPropertySetDefinition*> seen;
    auto merge = [&](const shared_ptr<IfcPropertySetDefinition>& d) {
        if (!seen.insert(d.get()).second) return;
        SnapshotPropertySet set = convert_definition(d);
        for (size_t i = first; i < out.size(); ++i) {
            if (out[i].name != set.name) continue;
            for (auto& p : set.properties)
                if (!out[i].find(p.name)) out[i].properties.push_back(std::move(p));
            return;
        }
        out.push_back(std::move(set));
    };
    for (const auto& d : defs.own) merge(d);
    for (const auto& d : defs.inherited) merge(d);
}

std::string base_name(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The first few unresolved references, "#60 IFCRELAGGREGATES.RelatedObjects -> #500, ...".
std::string unresolved_list(const std::vector<UnresolvedReference>& refs, bool objects_only) {
    std::string text;
    size_t shown = 0, total = 0;
    for (const auto& u : refs) {
        if (objects_only && !u.names_object) continue;
        ++total;
        if (++shown > 3) continue;
        if (!text.empty()) text += ", ";
        text += "#" + std::to_string(u.from) + " " + u.keyword;
        if (!u.attribute.empty()) text += "." + u.attribute;
        text += " -> #" + std::to_string(u.to);
    }
    if (total > 3) text += ", ...";
    return text;
}

} // namespace

std::string describe_unresolved(const ConversionStats& stats) {
    const size_t total = stats.unresolved.size();
    if (total == 0) return {};
    const auto unknown = static_cast<size_t>(
        std::count_if(stats.unresolved.begin(), stats.unresolved.end(), [](const auto& u) { return u.in_file; }));
    std::string text = std::to_string(total) + (total == 1 ? " reference" : " references");
    if (unknown == 0) text += total == 1 ? " to an entity missing from the file" : " to entities missing from the file";
    else if (unknown == total)
        text += total == 1 ? " to an entity of a type the reader does not know"
                           : " to entities of a type the reader does not know";
    else
        text += " (" + std::to_string(total - unknown) + " to entities missing from the file, " + std::to_string(unknown) +
                " to entities of a type the reader does not know)";
    text += " could not be resolved (" + unresolved_list(stats.unresolved, false) + ")";
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
    st.objects_lost = static_cast<size_t>(
        std::count_if(st.unresolved.begin(), st.unresolved.end(), [](const auto& u) { return u.names_object; }));
    if (st.objects_lost && !options.allow_dangling)
        throw MissingObjectsError(std::to_string(st.objects_lost) +
                                  (st.objects_lost == 1 ? " reference names a building object" : " references name building objects") +
                                  " missing from the file (" + unresolved_list(st.unresolved, true) +
                                  "): it looks cut short or damaged");

    BuildingModel& model = *read.model;
    std::vector<shared_ptr<IfcObjectDefinition>> objects;
    bool any_product = false;
    for (const auto& [id, entity] : model.getMapIfcEntities()) {
        if (!entity || id < 0 || !is_listed_object(entity)) continue;
        objects.push_back(dynamic_pointer_cast<IfcObjectDefinition>(entity));
        if (dynamic_pointer_cast<IfcProduct>(entity)) any_product = true;
    }
    if (!any_product)
        throw ReadError("the file holds no building object (no product: a type or property library?)");

    st.warnings = break_structure_cycles(model);
    st.faces_reordered = put_outer_bounds_first(model);
    if (st.faces_reordered)
        st.messages.push_back(std::to_string(st.faces_reordered) +
                              " faces listed a hole before their outer bound: the outer bound is taken first");
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
    st.objects = snapshot.objects.size();
    return snapshot;
}

Snapshot convert_ifc_file(const std::string& path, ConversionStats* stats, const ConversionOptions& options) {
    ReadModel read = read_ifc_file(path);
    return convert_model(read, base_name(path), stats, options);
}

} // namespace ifc2snapshot
