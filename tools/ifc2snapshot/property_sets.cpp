#include "property_sets.h"

#include "converter.h"
#include "values.h"

#include <ifcpp/IFC4/include/IfcComplexProperty.h>
#include <ifcpp/IFC4/include/IfcContext.h>
#include <ifcpp/IFC4/include/IfcElementQuantity.h>
#include <ifcpp/IFC4/include/IfcIdentifier.h>
#include <ifcpp/IFC4/include/IfcLabel.h>
#include <ifcpp/IFC4/include/IfcObject.h>
#include <ifcpp/IFC4/include/IfcPhysicalComplexQuantity.h>
#include <ifcpp/IFC4/include/IfcPhysicalSimpleQuantity.h>
#include <ifcpp/IFC4/include/IfcPropertyBoundedValue.h>
#include <ifcpp/IFC4/include/IfcPropertyEnumeratedValue.h>
#include <ifcpp/IFC4/include/IfcPropertyListValue.h>
#include <ifcpp/IFC4/include/IfcPropertySet.h>
#include <ifcpp/IFC4/include/IfcPropertySetDefinitionSet.h>
#include <ifcpp/IFC4/include/IfcPropertySingleValue.h>
#include <ifcpp/IFC4/include/IfcRelDefinesByProperties.h>
#include <ifcpp/IFC4/include/IfcRelDefinesByType.h>
#include <ifcpp/IFC4/include/IfcTypeObject.h>
#include <ifcpp/IFC4/include/IfcValue.h>

#include <set>

namespace ifc2snapshot {
namespace {

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

template <class WithIsDefinedBy>
void collect_own(const WithIsDefinedBy& object, Definitions& defs) {
    for (const auto& weak : object.m_IsDefinedBy_inverse)
        if (const auto rel = weak.lock()) collect_definitions(rel->m_RelatingPropertyDefinition, defs.own);
}

} // namespace

void collect_definitions(const shared_ptr<IfcPropertySetDefinitionSelect>& select,
                         std::vector<shared_ptr<IfcPropertySetDefinition>>& out) {
    if (const auto single = dynamic_pointer_cast<IfcPropertySetDefinition>(select)) out.push_back(single);
    else if (const auto many = dynamic_pointer_cast<IfcPropertySetDefinitionSet>(select))
        for (const auto& d : many->m_vec)
            if (d) out.push_back(d);
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

} // namespace ifc2snapshot
