#include "model.h"

#include <nlohmann/json.hpp>

#include "text.h"

namespace bvs {

namespace {

using nlohmann::json;

constexpr std::uint64_t max_id = (std::uint64_t{1} << 53) - 1;

struct Refusal {
    std::string why;
};

[[noreturn]] void refuse(std::string why) { throw Refusal{std::move(why)}; }

std::string where(std::size_t object) { return "object " + std::to_string(object) + ": "; }

double number_field(const json& obj, const char* key, std::size_t index) {
    auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) return 0.0;
    if (!it->is_number()) refuse(where(index) + "\"" + key + "\" is not a number");
    return it->get<double>();
}

void read_bounds(const json& obj, ModelObject& out, std::size_t index) {
    auto it = obj.find("bounds");
    if (it == obj.end() || it->is_null()) return;
    if (!it->is_array() || it->size() != 6) refuse(where(index) + "\"bounds\" needs six numbers");
    double v[6];
    for (std::size_t i = 0; i < 6; ++i) {
        if (!(*it)[i].is_number()) refuse(where(index) + "\"bounds\" needs six numbers");
        v[i] = (*it)[i].get<double>();
    }
    out.bounds = bv::Bounds{v[0], v[1], v[2], v[3], v[4], v[5]};
}

void read_sets(const json& obj, ModelObject& out, std::size_t index) {
    auto it = obj.find("property_sets");
    if (it == obj.end() || it->is_null()) return;
    if (!it->is_array()) refuse(where(index) + "\"property_sets\" is not a list");
    out.sets.reserve(it->size());
    for (const json& set : *it) {
        if (!set.is_object()) refuse(where(index) + "a property set is not an object");
        ModelPropertySet s;
        if (auto n = set.find("name"); n != set.end() && n->is_string())
            s.name = utf8_to_utf16(n->get_ref<const std::string&>());
        if (auto props = set.find("properties"); props != set.end() && !props->is_null()) {
            if (!props->is_array()) refuse(where(index) + "\"properties\" is not a list");
            s.properties.reserve(props->size());
            for (const json& p : *props) {
                if (!p.is_object()) refuse(where(index) + "a property is not an object");
                ModelProperty mp;
                auto n = p.find("name");
                if (n == p.end() || !n->is_string())
                    refuse(where(index) + "a property has no \"name\" text");
                mp.name = utf8_to_utf16(n->get_ref<const std::string&>());
                auto v = p.find("value");
                if (v == p.end() || v->is_null()) {
                    mp.null_text = true;
                } else if (v->is_string()) {
                    mp.text = utf8_to_utf16(v->get_ref<const std::string&>());
                } else if (v->is_number()) {
                    mp.is_text = false;
                    mp.number = v->get<double>();
                } else if (v->is_boolean()) {
                    mp.text = v->get<bool>() ? u"TRUE" : u"FALSE";
                } else {
                    refuse(where(index) + "property \"" + n->get<std::string>() +
                           "\" has a value that is neither text nor a number");
                }
                s.properties.push_back(std::move(mp));
            }
        }
        out.sets.push_back(std::move(s));
    }
}

// The identity texts come from the first set that carries them (normally set 0).
void read_identity(ModelObject& o) {
    bool got_guid = false, got_name = false, got_entity = false, got_type = false;
    for (const ModelPropertySet& s : o.sets) {
        for (const ModelProperty& p : s.properties) {
            if (!p.is_text || p.null_text) continue;
            if (!got_guid && p.name == u"Guid") {
                o.guid = p.text, got_guid = true;
            } else if (!got_name && p.name == u"Name") {
                o.name = p.text, got_name = true;
            } else if (!got_entity && p.name == u"IfcEntity") {
                o.entity = p.text, got_entity = true;
            } else if (!got_type && p.name == u"ObjectType") {
                o.object_type = p.text, got_type = true;
            }
        }
    }
    o.has_guid = got_guid && !o.guid.empty();
}

}  // namespace

void Model::add_object(const json& obj) {
    std::size_t index = objects_.size();
    if (!obj.is_object()) refuse(where(index) + "not a JSON object");
    auto id = obj.find("id");
    if (id == obj.end() || !id->is_number_integer() ||
        (!id->is_number_unsigned() && id->get<std::int64_t>() < 0))
        refuse(where(index) + "\"id\" is not an unsigned integer");
    ModelObject o;
    o.id = id->get<std::uint64_t>();
    if (o.id > max_id) refuse(where(index) + "\"id\" is 2^53 or more");
    read_bounds(obj, o, index);
    o.volume = number_field(obj, "volume", index);
    o.area = number_field(obj, "area", index);
    read_sets(obj, o, index);
    read_identity(o);
    if (!by_id_.emplace(o.id, index).second)
        refuse(where(index) + "id " + std::to_string(o.id) + " is used twice");
    if (o.has_guid) by_guid_.emplace(o.guid, index);  // the first one wins
    objects_.push_back(std::move(o));
}

ModelLoadResult Model::parse(std::string_view text) {
    ModelLoadResult result;
    try {
        auto model = std::unique_ptr<Model>(new Model);
        // Each element of "objects" becomes a ModelObject as soon as it has been read and is then
        // dropped from the document, so a large model never exists twice in memory.
        std::string root_key;
        bool in_objects = false;  // inside the root's "objects" list
        json::parser_callback_t take_objects = [&](int depth, json::parse_event_t event,
                                                   json& parsed) {
            if (depth == 1) {
                if (event == json::parse_event_t::key) root_key = parsed.get<std::string>();
                if (event == json::parse_event_t::array_start) in_objects = root_key == "objects";
                if (event == json::parse_event_t::array_end) in_objects = false;
                return true;
            }
            if (depth != 2 || !in_objects) return true;
            if (event == json::parse_event_t::object_end ||
                event == json::parse_event_t::array_end || event == json::parse_event_t::value) {
                model->add_object(parsed);
                return false;
            }
            return true;
        };
        json doc = json::parse(text.begin(), text.end(), take_objects, true, true);
        if (!doc.is_object()) refuse("the snapshot is not a JSON object");
        auto fmt = doc.find("format");
        if (fmt == doc.end() || !fmt->is_string() || fmt->get<std::string>() != format_name)
            refuse("\"format\" is not \"" + std::string(format_name) + "\"");
        auto ver = doc.find("version");
        if (ver == doc.end() || !ver->is_number_integer() || ver->get<int>() != format_version)
            refuse("unsupported \"version\" (expected 1)");
        if (auto files = doc.find("files"); files != doc.end() && !files->is_null()) {
            if (!files->is_array()) refuse("\"files\" is not a list");
            for (const json& f : *files) {
                if (!f.is_string()) refuse("a file name is not text");
                model->files_.push_back(utf8_to_utf16(f.get_ref<const std::string&>()));
            }
        }
        auto objects = doc.find("objects");
        if (objects == doc.end() || !objects->is_array()) refuse("\"objects\" is not a list");
        result.model = std::move(model);
    } catch (const Refusal& r) {
        result.error = r.why;
    } catch (const json::exception& e) {
        result.error = std::string("not valid JSON: ") + e.what();
    } catch (const std::exception& e) {
        result.error = e.what();
    }
    return result;
}

std::size_t Model::index_of(bv::ObjectId id) const {
    auto it = by_id_.find(id);
    return it == by_id_.end() ? npos : it->second;
}

std::size_t Model::index_of_guid(std::u16string_view guid) const {
    auto it = by_guid_.find(std::u16string(guid));
    return it == by_guid_.end() ? npos : it->second;
}

}  // namespace bvs
