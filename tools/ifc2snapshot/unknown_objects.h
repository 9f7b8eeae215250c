// Objects of a type the reader does not know (IFC2X3 types missing from its IFC4 classes): it
// skips them, so they are taken from the file's text.
#pragma once

#include "ifc_reader.h"
#include "property_sets.h"
#include "snapshot.h"

#include <string>
#include <vector>

namespace ifc2snapshot {

struct UnknownObject {
    const UnknownInstance* instance;
    Definitions defs;  // from the property and type relationships that name it
};

/// The unknown instances that relationships name as building objects, with the property and
/// type relationships that name them (the reader dropped those references from the lists).
std::vector<UnknownObject> unknown_objects(const ReadModel& read);

/// Such an object with its identity and direct attributes as the file states them (it is an
/// IfcObject: GlobalId, OwnerHistory, Name, Description, ObjectType, then for a product
/// ObjectPlacement, Representation and for an element Tag), and its property sets; no geometry.
/// entity is set to its class name as IFC writes it, where known.
SnapshotObject unknown_object(const UnknownObject& unknown, std::string& entity);

} // namespace ifc2snapshot
