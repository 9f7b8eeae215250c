// Property and quantity sets of an object, its own and its type's, as snapshot sets.
#pragma once

#include "snapshot.h"

#include <ifcpp/IFC4/include/IfcObjectDefinition.h>
#include <ifcpp/IFC4/include/IfcPropertySetDefinition.h>
#include <ifcpp/IFC4/include/IfcPropertySetDefinitionSelect.h>

#include <vector>

namespace ifc2snapshot {

/// The object's own property and quantity sets, then those of its type object.
struct Definitions {
    std::vector<shared_ptr<IfcPropertySetDefinition>> own;
    std::vector<shared_ptr<IfcPropertySetDefinition>> inherited;
};

/// Adds the set, or each set of an IFC4 set list, to out.
void collect_definitions(const shared_ptr<IfcPropertySetDefinitionSelect>& select,
                         std::vector<shared_ptr<IfcPropertySetDefinition>>& out);

Definitions definitions_of(const shared_ptr<IfcObjectDefinition>& object);

/// The object's sets in order, each name once: its own sets, a later one of the same name
/// adding only the properties the earlier ones lack; then its type's sets, merged the same way,
/// so a property the occurrence sets overrides the type's while the type's other properties
/// stay.
void add_property_sets(const Definitions& defs, std::vector<SnapshotPropertySet>& out);

} // namespace ifc2snapshot
