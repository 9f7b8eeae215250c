// The IFC library's attribute values as snapshot values: texts, numbers, enumerations.
#pragma once

#include "snapshot.h"
#include "text.h"

#include <ifcpp/model/BuildingObject.h>

#include <string>
#include <string_view>
#include <vector>

namespace ifc2snapshot {

/// The value as the STEP writer would put it, with full precision and no locale.
std::string step_text(const BuildingObject& object);

/// An enumeration written between dots, its name without them: the logical values .T., .F. and
/// .U. as TRUE, FALSE and UNKNOWN, any other name as it stands.
std::string enumeration_text(std::string_view dotted);

/// A text as it is, a number in its shortest exact form; empty for an unset value.
std::string as_text(const PropertyValue& value);

/// The values that are set: none gives an unset value, one keeps its type, more are joined
/// with ", " into a text.
PropertyValue joined(const std::vector<PropertyValue>& values);

/// Text for strings, labels and enumerations, a number for measures, counts and integers;
/// unset for unset values and for references to other entities.
PropertyValue value_of(const shared_ptr<BuildingObject>& object);

template <class Label>
std::string label_text(const shared_ptr<Label>& label) {
    return label ? to_utf8(label->m_value) : std::string();
}

} // namespace ifc2snapshot
