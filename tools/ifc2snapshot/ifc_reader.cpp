#include "ifc_reader.h"

#include "library_output.h"
#include "required_references.h"
#include "text.h"

#include <ifcpp/model/AttributeObject.h>
#include <ifcpp/model/BuildingModel.h>
#include <ifcpp/model/BuildingException.h>
#include <ifcpp/reader/ReaderSTEP.h>
#include <ifcpp/IFC4/EntityFactory.h>
#include <ifcpp/IFC4/include/IfcRelationship.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <locale>
#include <map>
#include <sstream>

namespace ifc2snapshot {
namespace {

std::string upper_ascii(std::string_view s) {
    std::string out(s);
    make_upper_ascii(out);
    return out;
}

bool starts_with(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// The IFC library converts text through the C library, which only knows multibyte text under
// a UTF-8 locale. The locale is switched for the reading alone and put back afterwards, so
// nothing this tool formats itself ever depends on it.
class ReaderLocale {
public:
    ReaderLocale() {
        const char* current = std::setlocale(LC_ALL, nullptr);
        saved_ = current ? current : "C";
        for (const char* name : {"en_US.UTF-8", "C.UTF-8", "C.utf8"})
            if (std::setlocale(LC_ALL, name)) break;
    }
    ~ReaderLocale() { std::setlocale(LC_ALL, saved_.c_str()); }
    ReaderLocale(const ReaderLocale&) = delete;
    ReaderLocale& operator=(const ReaderLocale&) = delete;

private:
    std::string saved_;
};

// The reader gathers several errors in one message, each ending in a line break: one line each.
void add_message_lines(const std::string& text, std::vector<std::string>& out) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        size_t first = start, last = end;
        while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
        while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
        if (last > first) out.push_back(text.substr(first, last - first));
        start = end + 1;
    }
}

void keep_message(void* target, shared_ptr<StatusCallback::Message> m) {
    if (!m) return;
    switch (m->m_message_type) {
    case StatusCallback::MESSAGE_TYPE_MINOR_WARNING:
    case StatusCallback::MESSAGE_TYPE_WARNING:
    case StatusCallback::MESSAGE_TYPE_ERROR:
        add_message_lines(to_utf8(m->m_message_text), *static_cast<std::vector<std::string>*>(target));
        break;
    default:
        break;
    }
}

bool reader_makes(const std::string& keyword) {
    const std::unique_ptr<BuildingEntity> entity(EntityFactory::createEntityObject(keyword));
    return entity != nullptr;
}

// Whether the reader keeps an instance of type `to` in the list `argument` of a `from` (nested
// `nesting` deep), or with `nesting` 0 in that attribute itself. In a list, the reader puts an
// empty item in place of one of the wrong type, which the geometry converter dereferences; as an
// attribute, it leaves it unset without a word. A probe instance reads that argument alone,
// naming one `to`.
bool holds_empty_item(const shared_ptr<BuildingObject>& value) {
    const auto vector = dynamic_pointer_cast<AttributeObjectVector>(value);
    if (!vector) return false;
    for (const auto& item : vector->m_vec)
        if (!item || holds_empty_item(item)) return true;
    return false;
}

bool list_takes(const std::string& from, size_t argument, int nesting, const std::string& to) {
    const std::unique_ptr<BuildingEntity> probe(EntityFactory::createEntityObject(from));
    const shared_ptr<BuildingEntity> item(EntityFactory::createEntityObject(to));
    if (!probe || !item || nesting < 0 || nesting > 3 || argument >= probe->getNumAttributes()) return true;
    item->m_entity_id = 1;
    std::vector<std::wstring> args(probe->getNumAttributes(), L"$");
    args[argument] = std::wstring(static_cast<size_t>(nesting), L'(') + L"#1" + std::wstring(static_cast<size_t>(nesting), L')');
    const std::map<int, shared_ptr<BuildingEntity>> entities{{1, item}};
    std::vector<std::pair<std::string, shared_ptr<BuildingObject>>> attributes;
    try {
        probe->readStepArguments(args, entities);
        probe->getAttributes(attributes);
    } catch (...) {
        return true;  // cannot tell: as the file has it
    }
    if (nesting == 0) {
        for (const auto& [name, value] : attributes)
            if (dynamic_cast<const BuildingEntity*>(value.get()) == item.get()) return true;
        return false;
    }
    for (const auto& [name, value] : attributes)
        if (holds_empty_item(value)) return false;
    return true;
}

// True for the attributes through which a relationship names building objects
// (RelatedObjects, RelatedElements, RelatingStructure, ...).
bool names_building_objects(std::string_view attribute) {
    static const char* const names[] = {
        "RelatingObject", "RelatedObjects", "RelatingStructure", "RelatedElements", "RelatingElement",
        "RelatedElement", "RealizingElements", "RelatingBuildingElement", "RelatedBuildingElement",
        "RelatingSpace", "RelatedSpace", "RelatedCoverings", "RelatingProduct", "RelatedBuildings",
        "RelatedControlElements", "RelatingFlowElement"};
    for (const char* n : names)
        if (attribute == n) return true;
    return false;
}

// Names each unresolved reference's attribute after the schema, which lists every entity's
// attributes in STEP order (the library's getAttributes leaves out the lists that are empty).
void name_attributes(BuildingModel& model, std::vector<UnresolvedReference>& unresolved) {
    const auto& entities = model.getMapIfcEntities();
    for (auto& u : unresolved) {
        const std::vector<std::string>* names = attribute_names(u.keyword);
        if (names && u.argument < names->size()) u.attribute = (*names)[u.argument];
        const auto found = entities.find(u.from);
        const bool relationship = found != entities.end() && dynamic_pointer_cast<IfcRelationship>(found->second) != nullptr;
        u.names_object = relationship && names_building_objects(u.attribute);
    }
}

} // namespace

std::string read_step_schema(std::string_view content) {
    std::string_view rest = content;
    if (starts_with(rest, "\xEF\xBB\xBF")) rest.remove_prefix(3);
    while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.front()))) rest.remove_prefix(1);
    if (starts_with(rest, "PK")) throw ReadError("a compressed ifcZIP file; unpack it first");
    if (starts_with(rest, "<")) throw ReadError("an ifcXML file; only IFC STEP files (.ifc) are read");
    if (!starts_with(rest, "ISO-10303-21;")) throw ReadError("not an IFC file (no ISO-10303-21 header)");

    const size_t end_of_header = rest.find("ENDSEC");
    if (end_of_header == std::string_view::npos)
        throw ReadError("the header ends without ENDSEC;: the file is damaged or truncated");
    const std::string_view head = rest.substr(0, end_of_header);
    const size_t at = head.find("FILE_SCHEMA");
    if (at == std::string_view::npos) throw ReadError("the header names no schema (FILE_SCHEMA is missing)");
    const size_t open = head.find('\'', at);
    const size_t close = open == std::string_view::npos ? open : head.find('\'', open + 1);
    if (close == std::string_view::npos || close == open + 1)
        throw ReadError("the header names no schema (FILE_SCHEMA is empty)");
    return std::string(head.substr(open + 1, close - open - 1));
}

void check_complete(std::string_view content) {
    static const char* const truncated = "the file ends before END-ISO-10303-21;: it looks truncated";
    const size_t data = content.find("DATA;", content.find("ENDSEC"));
    if (data == std::string_view::npos) throw ReadError(truncated);
    size_t i = data + 5;
    const size_t n = content.size();
    // At a "/*": past its "*/".
    auto skip_comment = [&] {
        const size_t close = content.find("*/", i + 2);
        if (close == std::string_view::npos) throw ReadError(truncated);
        i = close + 2;
    };
    auto skip_space_and_comments = [&] {
        for (;;) {
            while (i < n && std::isspace(static_cast<unsigned char>(content[i]))) ++i;
            if (content.compare(i, 2, "/*") != 0) return;
            skip_comment();
        }
    };
    for (;;) {
        skip_space_and_comments();
        if (i >= n) throw ReadError(truncated);
        if (content.compare(i, 7, "ENDSEC;") == 0) {
            i += 7;
            skip_space_and_comments();
            if (content.compare(i, 5, "DATA;") == 0 || content.compare(i, 5, "DATA(") == 0) {
                const size_t next = content.find(';', i);
                if (next == std::string_view::npos) throw ReadError(truncated);
                i = next + 1;
                continue;
            }
            if (content.compare(i, 17, "END-ISO-10303-21;") != 0) throw ReadError(truncated);
            return;
        }
        // One entity instance, up to its ';' outside text and comments.
        for (;;) {
            if (i >= n) throw ReadError(truncated);
            if (content.compare(i, 6, "ENDSEC") == 0 || content.compare(i, 16, "END-ISO-10303-21") == 0)
                throw ReadError("the DATA section ends inside an entity: the file looks truncated");
            const char c = content[i];
            if (c == ';') {
                ++i;
                break;
            }
            if (c == '\'') {
                const size_t close = content.find('\'', i + 1);  // '' inside text closes and reopens
                if (close == std::string_view::npos) throw ReadError(truncated);
                i = close + 1;
            } else if (c == '/' && content.compare(i, 2, "/*") == 0) {
                skip_comment();
            } else {
                ++i;
            }
        }
    }
}

bool is_supported_schema(std::string_view schema) {
    const std::string s = upper_ascii(schema);
    if (starts_with(s, "IFC2X3")) return true;
    return starts_with(s, "IFC4") && !starts_with(s, "IFC4X");
}

ReadModel read_ifc_content(std::string content) {
    ReadModel result;
    result.schema = read_step_schema(content);
    if (!is_supported_schema(result.schema))
        throw ReadError("unsupported schema " + result.schema + " (IFC2X3 and IFC4 are read)");
    check_complete(content);

    PreparedStep prepared;
    {
        LibraryOutput library_output;  // the probes of list_takes may make the library talk
        prepared = prepare_for_reader(content, &reader_makes, &list_takes);
        library_output.finish(result.messages);
    }
    std::string().swap(content);
    result.unresolved = std::move(prepared.unresolved);
    result.unknown = std::move(prepared.unknown);
    result.duplicates = std::move(prepared.duplicates);

    result.model = std::make_shared<BuildingModel>();
    auto reader = std::make_shared<ReaderSTEP>();
    reader->setMessageCallBack(&result.messages, &keep_message);
    result.model->setMessageCallBack(&result.messages, &keep_message);
    std::string failure;
    {
        LibraryOutput library_output;
        try {
            ReaderLocale locale;
            reader->loadModelFromString(prepared.text, result.model);
        } catch (const BuildingException& e) {
            failure = std::string("the IFC reader failed: ") + e.what();
        } catch (const std::exception& e) {
            failure = std::string("the IFC reader failed: ") + e.what();
        }
        library_output.finish(result.messages);
    }
    if (!failure.empty()) throw ReadError(failure);
    result.model->unsetMessageCallBack();
    name_attributes(*result.model, result.unresolved);
    if (result.model->getMapIfcEntities().empty())
        throw ReadError("no entities could be read from the DATA section");
    return result;
}

ReadModel read_ifc_file(const std::string& path) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) throw ReadError("a folder, not a file");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ReadError("cannot open the file");
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw ReadError("cannot read the file");
    return read_ifc_content(std::move(content));
}

} // namespace ifc2snapshot
