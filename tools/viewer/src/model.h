// The model the substitute viewer shows: a snapshot of an IFC model read from its JSON form.
// Once loaded a model never changes, so the texts it owns stay where they are for its whole life
// and can be handed out by pointer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "host_records.h"

namespace bvs {

struct ModelProperty {
    std::u16string name;
    bool is_text = true;
    bool null_text = false;  // a text property whose value is absent
    std::u16string text;
    double number = 0.0;
};

struct ModelPropertySet {
    std::u16string name;
    std::vector<ModelProperty> properties;
};

struct ModelObject {
    bv::ObjectId id = 0;
    bv::Bounds bounds;
    double volume = 0.0;
    double area = 0.0;
    std::vector<ModelPropertySet> sets;
    // The four identity texts shown in the object list; empty when the object lacks them.
    std::u16string guid, name, entity, object_type;
    bool has_guid = false;
};

class Model;

struct ModelLoadResult {
    std::unique_ptr<Model> model;  // null on failure
    std::string error;             // why the snapshot was refused
};

class Model {
public:
    static constexpr std::string_view format_name = "kestro-bimvision-snapshot";
    static constexpr int format_version = 1;

    /// Reads a snapshot from its UTF-8 JSON text.
    static ModelLoadResult parse(std::string_view json_text);

    const std::vector<std::u16string>& files() const { return files_; }
    const std::vector<ModelObject>& objects() const { return objects_; }
    std::size_t size() const { return objects_.size(); }

    /// Position of the object with this id, or npos.
    std::size_t index_of(bv::ObjectId id) const;
    /// Position of the first object whose identity GUID equals `guid`, or npos.
    std::size_t index_of_guid(std::u16string_view guid) const;

    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

private:
    void add_object(const nlohmann::json& object);

    std::vector<std::u16string> files_;
    std::vector<ModelObject> objects_;
    std::unordered_map<bv::ObjectId, std::size_t> by_id_;
    std::unordered_map<std::u16string, std::size_t> by_guid_;
};

}  // namespace bvs
