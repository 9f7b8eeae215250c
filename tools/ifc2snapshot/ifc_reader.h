// Reading an IFC STEP file into the IFC library's model, with the checks that decide whether
// the file can be converted at all.
#pragma once

#include "step_file.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class BuildingModel;

namespace ifc2snapshot {

/// A file that cannot be converted; the message says why, in words for the user.
class ReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The first schema named in the header's FILE_SCHEMA, as written ("IFC2X3", "IFC4", ...).
/// Throws ReadError when the text is not an ISO 10303-21 exchange file (an ifcXML or ifcZIP
/// file is named as such) or its header names no schema.
std::string read_step_schema(std::string_view content);

/// Throws ReadError when the exchange file is cut short: no END-ISO-10303-21; at its end, or
/// a DATA section that ends inside an entity, a text or a comment (an interrupted copy).
void check_complete(std::string_view content);

/// True for the schemas the reader maps onto its entity classes: IFC2X3 and IFC4 with its
/// addenda and corrigenda (IFC4ADD1, IFC4ADD2_TC1, ...). The IFC4X* extensions, IFC2X2 and
/// older ones are refused.
bool is_supported_schema(std::string_view schema);

struct ReadModel {
    std::shared_ptr<BuildingModel> model;
    std::string schema;
    std::vector<std::string> messages;  // warnings and errors the reader reported, UTF-8
    /// References to entities missing from the file (or of a type the reader does not know),
    /// in file order. The reader got them as unset attributes or shorter lists.
    std::vector<UnresolvedReference> unresolved;
    /// Instances of types the reader does not know, which it skipped, as the file states them.
    std::vector<UnknownInstance> unknown;
    /// Ids given to more than one instance: the reader kept the first instance of each.
    std::vector<DuplicateId> duplicates;
};

/// Reads the file at path. Throws ReadError when the file cannot be opened (or is a folder), is
/// not an IFC STEP file, names an unsupported schema, is truncated, or yields no entity. The
/// text goes to the reader through prepare_for_reader; what the library prints itself goes to
/// the messages.
ReadModel read_ifc_file(const std::string& path);

/// Same, from the file's bytes.
ReadModel read_ifc_content(std::string content);

} // namespace ifc2snapshot
