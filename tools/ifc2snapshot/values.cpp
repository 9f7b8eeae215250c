#include "values.h"

#include <ifcpp/model/AttributeObject.h>
#include <ifcpp/model/BuildingObject.h>

#include <charconv>
#include <locale>
#include <sstream>

namespace ifc2snapshot {
namespace {

std::string number_text(double v) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

} // namespace

std::string enumeration_text(std::string_view dotted) {
    const std::string_view name = dotted.substr(1, dotted.size() - 2);
    if (name == "T") return "TRUE";
    if (name == "F") return "FALSE";
    if (name == "U") return "UNKNOWN";
    return std::string(name);
}

std::string step_text(const BuildingObject& object) {
    std::stringstream s;
    s.imbue(std::locale::classic());
    s.precision(17);
    object.getStepParameter(s, false);
    return s.str();
}


std::string as_text(const PropertyValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* number = std::get_if<double>(&value)) return number_text(*number);
    return {};
}

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
    if (step.size() >= 2 && step.front() == '.' && step.back() == '.') return enumeration_text(step);
    if (const auto number = parse_step_number(step)) return *number;
    return to_utf8(std::wstring(step.begin(), step.end()));
}

} // namespace ifc2snapshot
