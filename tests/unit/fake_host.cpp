#include "fake_host.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>

namespace fake {

using bv::HostWord;

FakeHost* FakeHost::current = nullptr;

PropertySet& PropertySet::text(std::u16string name, std::u16string value) {
    return add({std::move(name), 0, std::move(value), 0.0});
}
PropertySet& PropertySet::number(std::u16string name, double value, std::int32_t type) {
    return add({std::move(name), type, std::nullopt, value});
}
PropertySet& PropertySet::null_text(std::u16string name) {
    return add({std::move(name), 0, std::nullopt, 0.0});
}
PropertySet& PropertySet::null_name() { return add({std::nullopt, 0, u"ignored", 0.0}); }
PropertySet& PropertySet::add(Prop p) {
    props.push_back(std::move(p));
    return *this;
}

PropertySet& Object::set(std::size_t j) {
    if (sets.size() <= j) sets.resize(j + 1);
    return sets[j];
}

namespace {

FakeHost& host() { return *FakeHost::current; }

bv::ObjectId id_of(HostWord low, HostWord high) {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(low)) |
           static_cast<std::uint64_t>(static_cast<std::uint32_t>(high)) << 32;
}

template <class T>
T* ptr(HostWord w) {
    return reinterpret_cast<T*>(w);
}

void log(const char* name, std::vector<std::uint64_t> args, std::vector<std::u16string> texts = {}) {
    host().calls.push_back({name, std::move(args), std::move(texts)});
}
void log_query(const char* name, std::vector<std::uint64_t> args) {
    if (host().log_queries) log(name, std::move(args));
}

HostWord fill_ids(const std::vector<bv::ObjectId>& ids, HostWord buffer, HostWord capacity) {
    if (buffer != 0) {
        std::size_t n = std::min<std::size_t>(ids.size(), static_cast<std::uint32_t>(capacity));
        std::copy_n(ids.begin(), n, ptr<bv::ObjectId>(buffer));
    }
    return ids.size();
}

std::uint64_t KB_STDCALL get_selected_id(HostWord plugin) {
    log_query("get_selected_id", {plugin});
    return host().selected_pseudo_id;
}

HostWord KB_STDCALL get_selected(HostWord plugin, HostWord buffer, HostWord capacity) {
    log_query("get_selected", {plugin, buffer != 0, capacity});
    return fill_ids(host().selected, buffer, capacity);
}

HostWord KB_STDCALL get_all_objects(HostWord plugin, HostWord buffer, HostWord capacity) {
    log_query("get_all_objects", {plugin, buffer != 0, capacity});
    std::vector<bv::ObjectId> ids;
    ids.reserve(host().objects.size());
    for (auto& o : host().objects) ids.push_back(o.id);
    return fill_ids(ids, buffer, capacity);
}

HostWord KB_STDCALL get_property_sets(HostWord plugin, HostWord lo, HostWord hi, HostWord buffer,
                                      HostWord capacity) {
    log_query("get_property_sets", {plugin, id_of(lo, hi), buffer != 0, capacity});
    Object* o = host().find(id_of(lo, hi));
    return o ? o->sets.size() : 0;
}

HostWord KB_STDCALL get_properties(HostWord plugin, HostWord key_word, HostWord buffer,
                                   HostWord capacity) {
    auto* key = ptr<const bv::PropertyGroupKey>(key_word);
    log_query("get_properties", {plugin, key->object, key->set_index, buffer != 0, capacity});
    Object* o = host().find(key->object);
    if (!o || key->set_index >= o->sets.size()) return 0;
    const auto& props = o->sets[key->set_index].props;
    if (buffer != 0 && host().out_of_memory_on_properties) throw std::bad_alloc();
    if (buffer != 0) {
        auto* out = ptr<bv::Property>(buffer);
        std::size_t n = std::min<std::size_t>(props.size(), static_cast<std::uint32_t>(capacity));
        for (std::size_t k = 0; k < n; ++k) {
            const Prop& p = props[k];
            std::memset(out[k].host_data, 0xA5, sizeof out[k].host_data);
            out[k].name = p.name ? p.name->c_str() : nullptr;
            out[k].value_type = p.value_type;
            std::memset(out[k].value, 0, sizeof out[k].value);
            if (p.value_type == 0) {
                const char16_t* t = p.text ? p.text->c_str() : nullptr;
                std::memcpy(out[k].value, &t, sizeof t);
            } else {
                std::memcpy(out[k].value, &p.number, sizeof p.number);
            }
        }
    }
    return props.size();
}

std::uint8_t KB_STDCALL get_bounds(HostWord plugin, HostWord lo, HostWord hi, HostWord out) {
    log_query("get_bounds", {plugin, id_of(lo, hi)});
    Object* o = host().find(id_of(lo, hi));
    if (!o || !o->fills_bounds) return 0;
    *ptr<bv::Bounds>(out) = o->bounds;
    return 1;
}

double KB_STDCALL get_volume(HostWord plugin, HostWord lo, HostWord hi) {
    log_query("get_volume", {plugin, id_of(lo, hi)});
    Object* o = host().find(id_of(lo, hi));
    return o ? o->volume : 0.0;
}

double KB_STDCALL get_total_area(HostWord plugin, HostWord lo, HostWord hi) {
    log_query("get_total_area", {plugin, id_of(lo, hi)});
    Object* o = host().find(id_of(lo, hi));
    return o ? o->area : 0.0;
}

HostWord KB_STDCALL get_loaded_ifc_files_count(HostWord plugin) {
    log_query("get_loaded_ifc_files_count", {plugin});
    if (host().reported_files_count)
        return static_cast<std::uint32_t>(*host().reported_files_count);
    return host().files.size();
}

HostWord KB_STDCALL get_loaded_ifc_filename(HostWord plugin, HostWord index) {
    log_query("get_loaded_ifc_filename", {plugin, index});
    auto& files = host().files;
    if (index >= files.size() || !files[index]) return 0;
    return reinterpret_cast<HostWord>(files[index]->c_str());
}

void KB_STDCALL select(HostWord plugin, HostWord lo, HostWord hi, HostWord flag) {
    log("select", {plugin, id_of(lo, hi), flag});
    FakeHost& h = host();
    if (!h.report_selection) return;
    const bv::ObjectId id = id_of(lo, hi);
    const bool on = (flag & 0xFF) != 0;
    auto& sel = h.selected;
    if (id == h.selected_pseudo_id) {
        if (on) return;
        sel.clear();
    } else if (on) {
        if (std::find(sel.begin(), sel.end(), id) == sel.end()) sel.push_back(id);
    } else {
        sel.erase(std::remove(sel.begin(), sel.end(), id), sel.end());
    }
    h.report_selection();
}
void KB_STDCALL set_object_active(HostWord plugin, HostWord lo, HostWord hi, HostWord a,
                                  HostWord b) {
    log("set_object_active", {plugin, id_of(lo, hi), a, b});
}
void KB_STDCALL unselect_openings(HostWord plugin, HostWord lo, HostWord hi) {
    log("unselect_openings", {plugin, id_of(lo, hi)});
}
void KB_STDCALL zoom_to(HostWord plugin, HostWord lo, HostWord hi) {
    log("zoom_to", {plugin, id_of(lo, hi)});
}
void KB_STDCALL invalidate(HostWord plugin) { log("invalidate", {plugin}); }

void KB_STDCALL draw_label(HostWord plugin, HostWord label) {
    host().last_label = ptr<const void>(label);
    log("draw_label", {plugin});
}

HostWord KB_STDCALL create_button(HostWord plugin, HostWord zero, HostWord handler) {
    host().click_handler = reinterpret_cast<bv::Handler>(handler);
    log("create_button", {plugin, zero});
    return host().next_button_id;
}

void KB_STDCALL set_button_text(HostWord plugin, HostWord button, HostWord first, HostWord second) {
    log("set_button_text", {plugin, button},
        {ptr<const char16_t>(first), ptr<const char16_t>(second)});
}

void KB_STDCALL set_button_image(HostWord plugin, HostWord button, HostWord file) {
    log("set_button_image", {plugin, button}, {ptr<const char16_t>(file)});
}

void KB_STDCALL on_selection_change(HostWord plugin, HostWord handler) {
    host().selection_handler = reinterpret_cast<bv::Handler>(handler);
    log("on_selection_change", {plugin});
}
void KB_STDCALL on_draw(HostWord plugin, HostWord handler) {
    host().draw_handler = reinterpret_cast<bv::Handler>(handler);
    log("on_draw", {plugin});
}
void KB_STDCALL on_model_load(HostWord plugin, HostWord handler) {
    host().model_load_handler = reinterpret_cast<bv::Handler>(handler);
    log("on_model_load", {plugin});
}

const std::map<std::string, void*>& exports() {
    static const std::map<std::string, void*> table = {
#define EXPORT(name) {#name, reinterpret_cast<void*>(&name)}
        EXPORT(get_selected_id),   EXPORT(get_selected),
        EXPORT(get_all_objects),   EXPORT(get_property_sets),
        EXPORT(get_properties),    EXPORT(get_bounds),
        EXPORT(get_volume),        EXPORT(get_total_area),
        EXPORT(get_loaded_ifc_files_count), EXPORT(get_loaded_ifc_filename),
        EXPORT(select),            EXPORT(set_object_active),
        EXPORT(unselect_openings), EXPORT(zoom_to),
        EXPORT(invalidate),        EXPORT(draw_label),
        EXPORT(create_button),     EXPORT(set_button_text),
        EXPORT(set_button_image),  EXPORT(on_selection_change),
        EXPORT(on_draw),           EXPORT(on_model_load),
#undef EXPORT
    };
    return table;
}

void* resolve_name(void* context, const char* name) {
    auto* fake = static_cast<FakeHost*>(context);
    if (fake->missing.count(name)) return nullptr;
    auto it = exports().find(name);
    return it == exports().end() ? nullptr : it->second;
}

}  // namespace

FakeHost::FakeHost() { current = this; }

void* FakeHost::resolve(void* context, const char* name) { return resolve_name(context, name); }

FakeHost::~FakeHost() {
    bv::host_table() = bv::HostFunctionTable{};
    if (current == this) current = nullptr;
}

void FakeHost::install() {
    current = this;
    bv::host_table() = bv::HostFunctionTable{};
    bv::bind_host_functions(bv::host_table(), resolve_name, this);
}

Object& FakeHost::element(bv::ObjectId id, std::u16string guid, std::u16string name,
                          std::u16string entity, std::u16string type) {
    objects.push_back({});
    Object& o = objects.back();
    o.id = id;
    PropertySet& s = o.set(0);
    if (!guid.empty()) s.text(u"Guid", std::move(guid));
    if (!name.empty()) s.text(u"Name", std::move(name));
    if (!entity.empty()) s.text(u"IfcEntity", std::move(entity));
    if (!type.empty()) s.text(u"ObjectType", std::move(type));
    return o;
}

Object* FakeHost::find(bv::ObjectId id) {
    if (index_.size() != objects.size() ||
        (!objects.empty() && index_.count(objects.back().id) == 0)) {
        index_.clear();
        for (std::size_t i = 0; i < objects.size(); ++i) index_.emplace(objects[i].id, i);
    }
    auto it = index_.find(id);
    return it == index_.end() ? nullptr : &objects[it->second];
}

std::vector<Call> FakeHost::calls_named(std::initializer_list<const char*> names) const {
    std::vector<Call> out;
    for (const Call& c : calls)
        for (const char* n : names)
            if (c.name == n) out.push_back(c);
    return out;
}

}  // namespace fake
