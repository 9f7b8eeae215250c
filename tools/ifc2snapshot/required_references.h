// The schema's rule for references that must be there: every required single reference of every
// entity (required_references.cpp, generated from the IFC library's headers by
// make_required_references.py), and the check that finds the ones a model breaks before the
// geometry converter follows them.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class BuildingEntity;
class BuildingModel;

namespace ifc2snapshot {

struct ReadModel;

/// An attribute that the schema requires and that holds a reference to an entity.
struct RequiredReference {
    const char* entity;     // in capitals, e.g. "IFCORIENTEDEDGE"
    size_t argument;        // its place in the entity's parameter list, counted from 0
    const char* attribute;  // e.g. "EdgeElement"
    const char* type;       // what it takes, e.g. "IfcEdge" (an entity or a select type)
    bool optional_in_ifc2x3;  // IFC2X3 leaves it optional (a space boundary's building element)
};

/// An entity's attributes in STEP order, inherited ones first.
struct EntityAttributes {
    const char* keyword;     // "IFCORGANIZATION"
    const char* name;        // "IfcOrganization"
    const char* attributes;  // "Identification,Name,Description,Roles,Addresses"
};

extern const RequiredReference required_reference_table[];
extern const size_t required_reference_count;
extern const EntityAttributes entity_attribute_table[];
extern const size_t entity_attribute_count;

/// The attribute names of the entity type `keyword` (in capitals) in STEP order, or nullptr for
/// a type the schema does not have.
const std::vector<std::string>* attribute_names(const std::string& keyword);

/// The schema's name of the entity type `keyword` ("IfcDirection" for "IFCDIRECTION"), or the
/// keyword itself for a type the schema does not have.
std::string entity_name(const std::string& keyword);

/// The required single references of the entity type `keyword` (in capitals).
std::vector<const RequiredReference*> required_references(const std::string& keyword);

/// A required single reference that the model lacks: the file left it empty ($, or * where the
/// schema derives nothing), named an entity missing from the file or of a type the reader does
/// not know, or one of a type the attribute does not take.
struct ReferenceFault {
    std::shared_ptr<BuildingEntity> entity;  // kept, also once a relationship is taken out of the model
    const RequiredReference* rule = nullptr;
    enum class Cause { empty, missing, unknown_type, wrong_type } cause = Cause::empty;
    int to = 0;              // the entity named, for missing, unknown_type and wrong_type
    std::string to_keyword;  // its type as the file writes it (wrong_type)
};

/// Every required single reference that the model read from the file lacks, in STEP id order.
std::vector<ReferenceFault> find_reference_faults(const ReadModel& read);

/// "#946 IfcOrientedEdge.EdgeElement is empty", "... points at #23 IFCDIRECTION, which it does
/// not take (it takes IfcEdge)", "... names #999, which is missing from the file".
std::string describe_fault(const ReferenceFault& fault);

/// Whether the geometry converter reaches the fault's entity through the links between pieces of
/// geometry (a representation, its items, profiles and maps): those are left out with the
/// representation items that lead to them (break_geometry_cycles).
bool is_geometry_fault(const ReferenceFault& fault);

/// Faults of one kind (entity type, attribute and cause), in STEP id order, with their words:
/// "#946 IfcOrientedEdge.EdgeElement is empty", or for several "IfcOrientedEdge.EdgeElement is
/// empty in 3 instances (#946, #947, #948)".
struct FaultKind {
    std::string text;
    std::vector<const ReferenceFault*> faults;
};

/// The geometry faults (is_geometry_fault), by kind.
std::vector<FaultKind> geometry_fault_kinds(const std::vector<ReferenceFault>& faults);

/// Takes every relationship with a fault out of the model, so that nothing follows it. Returns
/// one warning per relationship type and attribute, naming the relationships and what the
/// objects they relate lose ("#67 IfcSpace loses a property or quantity set").
std::vector<std::string> ignore_faulty_relationships(BuildingModel& model, const std::vector<ReferenceFault>& faults);

/// One warning per entity type and attribute for the faults that are neither geometry nor a
/// relationship (an owner history without its user, a unit without its conversion, ...).
std::vector<std::string> describe_other_faults(const std::vector<ReferenceFault>& faults);

} // namespace ifc2snapshot
