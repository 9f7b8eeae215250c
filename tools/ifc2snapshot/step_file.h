// The exchange file's text made ready for the IFC reader: every string literal decoded by the
// converter itself and written back in the one form the reader decodes correctly, and every
// reference to an entity that the reader will not have taken out, so that a missing entity
// costs only that reference and not the rest of the entity that names it.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ifc2snapshot {

/// A reference (#to) in the instance #from to an entity that is not in the file, or that the
/// reader cannot make (an entity type it does not know).
struct UnresolvedReference {
    int from = 0;
    std::string keyword;      // #from's entity type in capitals, e.g. "IFCRELAGGREGATES"
    size_t argument = 0;      // #from's attribute that holds the reference, counted from 0
    int to = 0;
    bool in_file = false;     // #to is in the file, of a type the reader does not know
    bool in_list = false;     // an item of a list (left out of it), not an attribute of its own
    bool wrong_type = false;  // #to is in the file, of a type that attribute or list does not take
    bool unset = false;       // not a reference: $ or * written as an item of a list (to is 0)
    std::string attribute;    // the attribute's name, filled in once the reader has #from
    bool names_object = false;  // where a relationship names a building object (RelatedObjects, ...)
    std::string to_keyword;   // #to's type in capitals, where the reader has #to (wrong_type)
};

/// An instance of a type the reader cannot make, as the file states it.
struct UnknownInstance {
    int id = 0;
    std::string keyword;              // as written, e.g. "IFCELECTRICDISTRIBUTIONPOINT"
    std::vector<std::string> arguments;  // its top-level arguments as written, e.g. "'Cuadro'", "$", "#41"
};

/// An id that the file gives to more than one instance. The reader keeps the first of them.
struct DuplicateId {
    int id = 0;
    std::vector<size_t> lines;  // where each of its instances starts, counted from 1, in file order
};

struct PreparedStep {
    std::string text;
    std::vector<UnresolvedReference> unresolved;
    std::vector<UnknownInstance> unknown;  // in file order
    std::vector<DuplicateId> duplicates;   // by id
};

/// The top-level arguments of an instance's parameter list "(a,(b,c),'d,e')" as written,
/// without the blanks around them; texts and nested lists stay whole.
std::vector<std::string> split_arguments(std::string_view parameters);

/// Whether a list of an instance of type `from` (keywords in capitals), its attribute `argument`
/// nested `nesting` deep, takes an instance of type `to`; with `nesting` 0, whether the attribute
/// itself does.
using ListTakes = std::function<bool(const std::string& from, size_t argument, int nesting, const std::string& to)>;

/// Rewrites the file for the reader. `readable` says whether the reader can make an entity of a
/// type (the keyword in capitals); instances of other types count as missing. An unresolved
/// reference becomes $ where it is an attribute of its own and is left out of a list; instances
/// the reader cannot make and complex instances are copied as they are. So is $ or * written as an
/// item of a list (the reader gave up on the list or on the rest of the instance there). With
/// `takes`, a list item of a type its list does not take is left out too (the reader would put an
/// empty item there), and an attribute of its own that names an entity of a type it does not take
/// becomes $ (the reader would leave it unset without a word); both are counted as unresolved.
PreparedStep prepare_for_reader(std::string_view content, const std::function<bool(const std::string&)>& readable,
                                const ListTakes& takes = nullptr);

} // namespace ifc2snapshot
