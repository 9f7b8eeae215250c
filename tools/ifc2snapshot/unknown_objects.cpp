#include "unknown_objects.h"

#include "converter.h"
#include "text.h"
#include "utf8.h"
#include "values.h"

#include <ifcpp/model/BuildingModel.h>
#include <ifcpp/IFC4/include/IfcRelDefinesByProperties.h>
#include <ifcpp/IFC4/include/IfcRelDefinesByType.h>
#include <ifcpp/IFC4/include/IfcTypeObject.h>

namespace ifc2snapshot {
namespace {

// IFC2X3 building objects that the reader's IFC4 classes lack: the name as IFC writes it and
// their attributes after IfcElement's Tag.
struct KnownUnknown {
    const char* keyword;
    const char* entity;
    std::vector<const char*> more;
};
const KnownUnknown* known_unknown(const std::string& keyword) {
    static const KnownUnknown table[] = {
        {"IFCELECTRICDISTRIBUTIONPOINT", "IfcElectricDistributionPoint", {"DistributionPointFunction", "UserDefinedFunction"}},
        {"IFCELECTRICALELEMENT", "IfcElectricalElement", {}},
        {"IFCEQUIPMENTELEMENT", "IfcEquipmentElement", {}},
    };
    std::string upper = keyword;
    make_upper_ascii(upper);
    for (const auto& k : table)
        if (upper == k.keyword) return &k;
    return nullptr;
}

// An argument as the file states it: a text decoded, an enumeration's name, a number; nothing
// for references, lists and unset values.
PropertyValue argument_value(const std::string& arg) {
    if (arg.size() >= 2 && arg.front() == '\'' && arg.back() == '\'') {
        const std::u32string decoded = decode_step_string(std::string_view(arg).substr(1, arg.size() - 2));
        std::string utf8;
        for (char32_t c : decoded) kbtools::append_utf8(utf8, c);
        return utf8;
    }
    if (arg.size() >= 3 && arg.front() == '.' && arg.back() == '.') return enumeration_text(arg);
    if (const auto number = parse_step_number(arg)) return *number;
    return std::monostate{};
}

} // namespace

SnapshotObject unknown_object(const UnknownObject& unknown, std::string& entity) {
    const UnknownInstance& instance = *unknown.instance;
    const Definitions& defs = unknown.defs;
    const auto& a = instance.arguments;
    auto arg = [&](size_t i) { return i < a.size() ? argument_value(a[i]) : PropertyValue{}; };
    const KnownUnknown* known = known_unknown(instance.keyword);
    entity = known ? known->entity : instance.keyword;
    SnapshotObject out;
    out.id = static_cast<std::uint64_t>(instance.id);
    SnapshotPropertySet set;
    set.name = attribute_set_name;
    const std::string guid = as_text(arg(0));
    if (!guid.empty()) set.properties.push_back({"Guid", guid});
    set.properties.push_back({"Name", as_text(arg(2))});
    set.properties.push_back({"IfcEntity", entity});
    set.properties.push_back({"ObjectType", as_text(arg(4))});
    std::vector<std::pair<size_t, std::string>> named = {{3, "Description"}};
    if (known) {
        named.push_back({7, "Tag"});
        for (size_t k = 0; k < known->more.size(); ++k) named.push_back({8 + k, known->more[k]});
    }
    for (const auto& [index, name] : named) {
        PropertyValue v = arg(index);
        if (!std::holds_alternative<std::monostate>(v)) set.properties.push_back({name, std::move(v)});
    }
    out.property_sets.push_back(std::move(set));
    add_property_sets(defs, out.property_sets);
    return out;
}

std::vector<UnknownObject> unknown_objects(const ReadModel& read) {
    std::vector<UnknownObject> found;
    const auto& entities = read.model->getMapIfcEntities();
    for (const auto& instance : read.unknown) {
        bool named_as_object = false;
        Definitions defs;
        for (const auto& u : read.unresolved) {
            if (!u.in_file || u.to != instance.id) continue;
            named_as_object = named_as_object || u.names_object;
            const auto rel = entities.find(u.from);
            if (rel == entities.end()) continue;
            if (const auto by_properties = dynamic_pointer_cast<IfcRelDefinesByProperties>(rel->second))
                collect_definitions(by_properties->m_RelatingPropertyDefinition, defs.own);
            else if (const auto by_type = dynamic_pointer_cast<IfcRelDefinesByType>(rel->second); by_type && by_type->m_RelatingType)
                for (const auto& d : by_type->m_RelatingType->m_HasPropertySets)
                    if (d) defs.inherited.push_back(d);
        }
        if (named_as_object) found.push_back({&instance, std::move(defs)});
    }
    return found;
}

} // namespace ifc2snapshot
