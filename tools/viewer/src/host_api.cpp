#include "host_api.h"

#include <cstring>

#include "text.h"

namespace bvs {

using nlohmann::json;

void HostApi::install_model(std::shared_ptr<const Model> model) {
    model_ = std::move(model);
    std::size_t n = model_ ? model_->size() : 0;
    selected_.assign(n, 0);
    active_.assign(n, 0);
    selected_count_ = 0;
    json e = {{"event", "model"}, {"objects", n}};
    json files = json::array();
    if (model_)
        for (const auto& f : model_->files()) files.push_back(utf16_to_utf8(f));
    e["files"] = files;
    log_.write(e);
}

json HostApi::call_event(const char* name, std::uint32_t plugin) const {
    return json{{"event", "call"}, {"name", name}, {"plugin", plugin}};
}

void HostApi::describe_object(json& e, bv::ObjectId id) const {
    e["object"] = id_text(id);
    if (id == selected_objects_id) {
        e["pseudo"] = "selected";
        return;
    }
    std::size_t i = model_ ? model_->index_of(id) : Model::npos;
    if (i == Model::npos) {
        e["known"] = false;
        return;
    }
    const ModelObject& o = model_->objects()[i];
    if (o.has_guid) e["guid"] = utf16_to_utf8(o.guid);
}

// ---- queries --------------------------------------------------------------------------------

bv::ObjectId HostApi::get_selected_id(std::uint32_t plugin) {
    json e = call_event("get_selected_id", plugin);
    e["result"] = id_text(selected_objects_id);
    log_.write(e);
    return selected_objects_id;
}

void HostApi::log_list_query(const char* name, std::uint32_t plugin, const void* buffer,
                             std::uint32_t capacity, std::uint32_t result) {
    json e = call_event(name, plugin);
    e["buffer"] = buffer != nullptr;
    e["capacity"] = capacity;
    e["result"] = result;
    log_.write(e);
}

std::uint32_t HostApi::get_selected(std::uint32_t plugin, bv::ObjectId* buffer,
                                    std::uint32_t capacity) {
    auto count = static_cast<std::uint32_t>(selected_count_);
    log_list_query("get_selected", plugin, buffer, capacity, count);
    if (buffer == nullptr || capacity == 0) return count;
    std::uint32_t written = 0;
    for (std::size_t i = 0; i < selected_.size() && written < capacity; ++i)
        if (selected_[i]) buffer[written++] = model_->objects()[i].id;
    return count;
}

std::uint32_t HostApi::get_all_objects(std::uint32_t plugin, bv::ObjectId* buffer,
                                       std::uint32_t capacity) {
    auto count = static_cast<std::uint32_t>(model_ ? model_->size() : 0);
    log_list_query("get_all_objects", plugin, buffer, capacity, count);
    if (!model_ || buffer == nullptr || capacity == 0) return count;
    std::uint32_t n = capacity < count ? capacity : count;
    const auto& objects = model_->objects();
    for (std::uint32_t i = 0; i < n; ++i) buffer[i] = objects[i].id;
    return count;
}

std::uint32_t HostApi::get_property_sets(std::uint32_t, bv::ObjectId id, void*, std::uint32_t) {
    ++counters_.property_set_queries;
    // Only the count is offered: the plugin never asks for the sets themselves.
    std::size_t i = model_ ? model_->index_of(id) : Model::npos;
    if (i == Model::npos) return 0;
    return static_cast<std::uint32_t>(model_->objects()[i].sets.size());
}

std::uint32_t HostApi::get_properties(std::uint32_t, const bv::PropertyGroupKey* key,
                                      bv::Property* buffer, std::uint32_t capacity) {
    ++counters_.property_queries;
    if (key == nullptr || !model_) return 0;
    std::size_t i = model_->index_of(key->object);
    if (i == Model::npos) return 0;
    const auto& sets = model_->objects()[i].sets;
    if (key->set_index >= sets.size()) return 0;
    const auto& props = sets[key->set_index].properties;
    auto count = static_cast<std::uint32_t>(props.size());
    if (buffer == nullptr || capacity == 0) return count;
    std::uint32_t n = capacity < count ? capacity : count;
    for (std::uint32_t k = 0; k < n; ++k) {
        const ModelProperty& p = props[k];
        bv::Property& out = buffer[k];
        std::memset(&out, 0, sizeof out);
        std::uint32_t host_index = k;
        std::memcpy(out.host_data, &host_index, sizeof host_index);
        out.name = p.name.c_str();
        if (p.is_text) {
            out.value_type = 0;
            const char16_t* text = p.null_text ? nullptr : p.text.c_str();
            std::memcpy(out.value, &text, sizeof text);
        } else {
            out.value_type = 1;
            std::memcpy(out.value, &p.number, sizeof p.number);
        }
    }
    return count;
}

bool HostApi::get_bounds(std::uint32_t, bv::ObjectId id, bv::Bounds* bounds) {
    ++counters_.measure_queries;
    std::size_t i = model_ ? model_->index_of(id) : Model::npos;
    if (i == Model::npos || bounds == nullptr) return false;
    *bounds = model_->objects()[i].bounds;
    return true;
}

double HostApi::get_volume(std::uint32_t, bv::ObjectId id) {
    ++counters_.measure_queries;
    std::size_t i = model_ ? model_->index_of(id) : Model::npos;
    return i == Model::npos ? 0.0 : model_->objects()[i].volume;
}

double HostApi::get_total_area(std::uint32_t, bv::ObjectId id) {
    ++counters_.measure_queries;
    std::size_t i = model_ ? model_->index_of(id) : Model::npos;
    return i == Model::npos ? 0.0 : model_->objects()[i].area;
}

std::int32_t HostApi::get_loaded_ifc_files_count(std::uint32_t) {
    return model_ ? static_cast<std::int32_t>(model_->files().size()) : 0;
}

const char16_t* HostApi::get_loaded_ifc_filename(std::uint32_t, std::int32_t index) {
    if (!model_ || index < 0 || static_cast<std::size_t>(index) >= model_->files().size())
        return nullptr;
    return model_->files()[static_cast<std::size_t>(index)].c_str();
}

// ---- commands -------------------------------------------------------------------------------

void HostApi::select(std::uint32_t plugin, bv::ObjectId id, bool on) {
    json e = call_event("select", plugin);
    describe_object(e, id);
    e["flags"] = {on};
    log_.write(e);
    bool changed = false;
    if (id == selected_objects_id) {
        // The pseudo id stands for the selected objects: unselecting it clears the selection,
        // selecting it keeps them as they are.
        if (!on && selected_count_ > 0) {
            selected_.assign(selected_.size(), 0);
            selected_count_ = 0;
            changed = true;
        }
    } else if (std::size_t i = model_ ? model_->index_of(id) : Model::npos; i != Model::npos) {
        if (static_cast<bool>(selected_[i]) != on) {
            selected_[i] = on;
            if (on)
                ++selected_count_;
            else
                --selected_count_;
            changed = true;
        }
    }
    if (changed && observer_) observer_->selection_applied();
}

void HostApi::set_object_active(std::uint32_t plugin, bv::ObjectId id, bool on, bool second) {
    json e = call_event("set_object_active", plugin);
    describe_object(e, id);
    e["flags"] = {on, second};
    log_.write(e);
    bool changed = false;
    if (id == selected_objects_id) {
        if (!on)
            for (auto& a : active_) changed |= a != 0, a = 0;
    } else if (std::size_t i = model_ ? model_->index_of(id) : Model::npos; i != Model::npos) {
        changed = static_cast<bool>(active_[i]) != on;
        active_[i] = on;
    }
    if (changed && observer_) observer_->selection_applied();
}

void HostApi::unselect_openings(std::uint32_t plugin, bv::ObjectId id) {
    json e = call_event("unselect_openings", plugin);
    describe_object(e, id);
    log_.write(e);
}

void HostApi::zoom_to(std::uint32_t plugin, bv::ObjectId id) {
    json e = call_event("zoom_to", plugin);
    describe_object(e, id);
    log_.write(e);
    std::size_t i = model_ ? model_->index_of(id) : Model::npos;
    if (i != Model::npos && observer_) observer_->zoom_to(i);
}

void HostApi::invalidate(std::uint32_t plugin) {
    log_.write(call_event("invalidate", plugin));
    if (observer_) observer_->invalidate_view();
}

void HostApi::draw_label(std::uint32_t, const void* label) {
    ++counters_.draw_label_calls;
    bool zero = label != nullptr;
    if (label != nullptr) {
        const auto* bytes = static_cast<const unsigned char*>(label);
        for (std::size_t i = 0; i < label_record_size; ++i) zero &= bytes[i] == 0;
    }
    if (!zero) ++counters_.draw_label_nonzero;
}

// ---- ribbon and registrations ---------------------------------------------------------------

RibbonButton* HostApi::find_button(std::uint32_t id) {
    for (auto& b : buttons_)
        if (b.id == id) return &b;
    return nullptr;
}

std::uint32_t HostApi::create_button(std::uint32_t plugin, std::uint32_t arg,
                                     bv::Handler on_click) {
    RibbonButton b;
    b.id = first_button_id + static_cast<std::uint32_t>(buttons_.size());
    b.on_click = on_click;
    buttons_.push_back(b);
    json e = call_event("create_button", plugin);
    e["arg"] = arg;
    e["handler"] = on_click != nullptr;
    e["result"] = b.id;
    log_.write(e);
    if (observer_) observer_->buttons_changed();
    return b.id;
}

void HostApi::set_button_text(std::uint32_t plugin, std::uint32_t button, const char16_t* text,
                              const char16_t* hint) {
    json e = call_event("set_button_text", plugin);
    e["button"] = button;
    e["text"] = text ? json(utf16_to_utf8(text)) : json(nullptr);
    e["hint"] = hint ? json(utf16_to_utf8(hint)) : json(nullptr);
    RibbonButton* b = find_button(button);
    if (b == nullptr) e["known"] = false;
    log_.write(e);
    if (b == nullptr) return;
    b->text = std::u16string(terminated(text));
    b->hint = std::u16string(terminated(hint));
    if (observer_) observer_->buttons_changed();
}

void HostApi::set_button_image(std::uint32_t plugin, std::uint32_t button, const char16_t* path) {
    json e = call_event("set_button_image", plugin);
    e["button"] = button;
    e["path"] = path ? json(utf16_to_utf8(path)) : json(nullptr);
    RibbonButton* b = find_button(button);
    if (b == nullptr) {
        e["known"] = false;
    } else {
        b->image_path = std::u16string(terminated(path));
        std::size_t index = static_cast<std::size_t>(b - buttons_.data());
        b->icon_loaded = observer_ && observer_->load_button_icon(index, b->image_path);
        e["icon_loaded"] = b->icon_loaded;
    }
    log_.write(e);
    if (b != nullptr && observer_) observer_->buttons_changed();
}

void HostApi::log_registration(const char* name, std::uint32_t plugin, bv::Handler handler) {
    json e = call_event(name, plugin);
    e["handler"] = handler != nullptr;
    log_.write(e);
}

void HostApi::on_selection_change(std::uint32_t plugin, bv::Handler handler) {
    selection_handler_ = handler;
    log_registration("on_selection_change", plugin, handler);
}

void HostApi::on_draw(std::uint32_t plugin, bv::Handler handler) {
    draw_handler_ = handler;
    log_registration("on_draw", plugin, handler);
    if (observer_) observer_->invalidate_view();
}

void HostApi::on_model_load(std::uint32_t plugin, bv::Handler handler) {
    model_load_handler_ = handler;
    log_registration("on_model_load", plugin, handler);
}

// ---- the viewer's own side ------------------------------------------------------------------

std::vector<std::size_t> HostApi::selected_indices() const {
    std::vector<std::size_t> out;
    out.reserve(selected_count_);
    for (std::size_t i = 0; i < selected_.size(); ++i)
        if (selected_[i]) out.push_back(i);
    return out;
}

bool HostApi::replace_selection(const std::vector<std::size_t>& indices) {
    std::vector<std::uint8_t> next(selected_.size(), 0);
    std::size_t count = 0;
    for (std::size_t i : indices)
        if (i < next.size() && !next[i]) next[i] = 1, ++count;
    if (next == selected_) return false;
    selected_ = std::move(next);
    selected_count_ = count;
    return true;
}

json HostApi::selected_guids() const {
    json guids = json::array();
    for (std::size_t i : selected_indices()) {
        const ModelObject& o = model_->objects()[i];
        guids.push_back(o.has_guid ? json(utf16_to_utf8(o.guid)) : json(nullptr));
    }
    return guids;
}

void HostApi::notify_selection_change(const char* source) {
    json e = {{"event", "selection_change"}, {"source", source}, {"guids", selected_guids()},
              {"handler", selection_handler_ != nullptr}};
    log_.write(e);
    if (selection_handler_ == nullptr) return;
    ++counters_.selection_handler_calls;
    selection_handler_();
}

void HostApi::notify_model_load() {
    log_.write({{"event", "model_load"}, {"handler", model_load_handler_ != nullptr}});
    if (model_load_handler_ == nullptr) return;
    ++counters_.model_load_handler_calls;
    model_load_handler_();
}

void HostApi::notify_draw() {
    if (draw_handler_ == nullptr) return;
    ++counters_.draw_handler_calls;
    draw_handler_();
}

bool HostApi::click_button(std::size_t index, const char* source) {
    if (index >= buttons_.size()) {
        log_.write({{"event", "click"}, {"source", source}, {"button", nullptr}});
        return false;
    }
    bv::Handler h = buttons_[index].on_click;
    log_.write({{"event", "click"}, {"source", source}, {"button", buttons_[index].id},
                {"handler", h != nullptr}});
    if (h == nullptr) return true;
    ++counters_.click_handler_calls;
    h();
    log_.write({{"event", "click_done"}, {"button", buttons_[index].id}});
    return true;
}

void HostApi::log_final_state() {
    log_.write({{"event", "stats"},
                {"draw_handler_calls", counters_.draw_handler_calls},
                {"draw_label_calls", counters_.draw_label_calls},
                {"draw_label_nonzero", counters_.draw_label_nonzero},
                {"selection_handler_calls", counters_.selection_handler_calls},
                {"model_load_handler_calls", counters_.model_load_handler_calls},
                {"click_handler_calls", counters_.click_handler_calls},
                {"property_set_queries", counters_.property_set_queries},
                {"property_queries", counters_.property_queries},
                {"measure_queries", counters_.measure_queries}});
    json ids = json::array();
    for (std::size_t i : selected_indices()) ids.push_back(id_text(model_->objects()[i].id));
    json active = json::array();
    for (std::size_t i = 0; i < active_.size(); ++i)
        if (active_[i]) active.push_back(id_text(model_->objects()[i].id));
    log_.write({{"event", "selected"}, {"guids", selected_guids()}, {"ids", ids},
                {"active", active}});
}

}  // namespace bvs
