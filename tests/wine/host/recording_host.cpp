#include "recording_host.h"

#include <cstring>

namespace kbtest {

std::vector<HostCall>& host_calls() {
    static std::vector<HostCall> calls;
    return calls;
}

std::vector<std::string> host_call_names() {
    std::vector<std::string> names;
    for (const HostCall& c : host_calls()) names.push_back(c.name);
    return names;
}

const std::vector<ModelObject>& model() {
    static const std::vector<ModelObject> objects = {
        {0x0000000100000011ull, u"Muro 1", u"3vB2YO$MX4xv5uCqZZG05x"},
        {0x0000000200000022ull, u"Losa 2", u"0K7w7JN3X9GBV$YoH2Ss0a"},
        {0x0000000300000033ull, u"Pilar 3", u"1kTvXnbbzCWw8lcMd1dR4o"},
    };
    return objects;
}

HostAnswers& answers() {
    static HostAnswers a;
    return a;
}

}  // namespace kbtest

namespace {

using kbtest::HostCall;
using u32 = std::uint32_t;

void record(const char* name, std::vector<u32> words, const char16_t* t1 = nullptr,
            const char16_t* t2 = nullptr) {
    HostCall c{name, std::move(words), {}, {}};
    if (t1 != nullptr) c.text1 = t1;
    if (t2 != nullptr) c.text2 = t2;
    kbtest::host_calls().push_back(std::move(c));
}

int object_index(u32 lo, u32 hi) {
    const std::uint64_t id = (static_cast<std::uint64_t>(hi) << 32) | lo;
    for (std::size_t i = 0; i < kbtest::model().size(); ++i)
        if (kbtest::model()[i].id == id) return static_cast<int>(i);
    return -1;
}

const kbtest::ModelObject* find_object(u32 lo, u32 hi) {
    const std::uint64_t id = (static_cast<std::uint64_t>(hi) << 32) | lo;
    for (const auto& o : kbtest::model())
        if (o.id == id) return &o;
    return nullptr;
}

// Writes one property record by the host's byte layout: name at 8, value type at 12, value at 16.
void write_text_property(unsigned char* record, const char16_t* name, const char16_t* value) {
    std::memset(record, 0, 24);
    std::memcpy(record + 8, &name, 4);
    std::memcpy(record + 16, &value, 4);
}

}  // namespace

extern "C" {

u32 __stdcall create_button(u32 plugin, u32 zero, u32 handler) {
    record("create_button", {plugin, zero, handler});
    return kbtest::button_id;
}
void __stdcall set_button_text(u32 plugin, u32 button, const char16_t* t1, const char16_t* t2) {
    record("set_button_text", {plugin, button, u32(reinterpret_cast<std::uintptr_t>(t1)),
                               u32(reinterpret_cast<std::uintptr_t>(t2))},
           t1, t2);
}
void __stdcall set_button_image(u32 plugin, u32 button, const char16_t* file) {
    record("set_button_image", {plugin, button, u32(reinterpret_cast<std::uintptr_t>(file))}, file);
}
void __stdcall on_selection_change(u32 plugin, u32 handler) {
    record("on_selection_change", {plugin, handler});
}
void __stdcall on_draw(u32 plugin, u32 handler) { record("on_draw", {plugin, handler}); }
void __stdcall on_model_load(u32 plugin, u32 handler) {
    record("on_model_load", {plugin, handler});
}
void __stdcall draw_label(u32 plugin, u32 label) { record("draw_label", {plugin, label}); }
std::uint64_t __stdcall get_selected_id(u32 plugin) {
    record("get_selected_id", {plugin});
    return kbtest::selected_pseudo_id;
}
u32 __stdcall get_selected(u32 plugin, std::uint64_t* ids, u32 capacity) {
    record("get_selected", {plugin, u32(reinterpret_cast<std::uintptr_t>(ids)), capacity});
    const auto& objects = kbtest::model();
    if (ids != nullptr)
        for (u32 i = 0; i < capacity && i < objects.size(); ++i) ids[i] = objects[i].id;
    return kbtest::answers().selected_count;
}
u32 __stdcall get_all_objects(u32 plugin, std::uint64_t* ids, u32 capacity) {
    record("get_all_objects", {plugin, u32(reinterpret_cast<std::uintptr_t>(ids)), capacity});
    const auto& objects = kbtest::model();
    const u32 count = kbtest::answers().all_count;
    if (ids != nullptr)
        for (u32 i = 0; i < capacity && i < count && i < objects.size(); ++i) ids[i] = objects[i].id;
    return count;
}
u32 __stdcall get_property_sets(u32 plugin, u32 lo, u32 hi, void* sets, u32 capacity) {
    record("get_property_sets",
           {plugin, lo, hi, u32(reinterpret_cast<std::uintptr_t>(sets)), capacity});
    return find_object(lo, hi) != nullptr ? 2 : 0;
}
u32 __stdcall get_properties(u32 plugin, const unsigned char* key, unsigned char* records,
                             u32 capacity) {
    u32 lo, hi, set;
    std::memcpy(&lo, key, 4);
    std::memcpy(&hi, key + 4, 4);
    std::memcpy(&set, key + 8, 4);
    record("get_properties", {plugin, lo, hi, set, u32(reinterpret_cast<std::uintptr_t>(records)),
                              capacity});
    const kbtest::ModelObject* o = find_object(lo, hi);
    if (o == nullptr || set > 1) return 0;
    if (records == nullptr && kbtest::answers().property_count != 0)
        return kbtest::answers().property_count;
    if (records != nullptr && capacity >= 1) {
        if (set == 0)
            write_text_property(records, u"Name", o->name);
        else
            write_text_property(records, u"Guid", o->guid);
    }
    return 1;
}
void __stdcall select(u32 plugin, u32 lo, u32 hi, u32 flag) {
    record("select", {plugin, lo, hi, flag});
}
void __stdcall set_object_active(u32 plugin, u32 lo, u32 hi, u32 active, u32 second) {
    record("set_object_active", {plugin, lo, hi, active, second});
}
void __stdcall unselect_openings(u32 plugin, u32 lo, u32 hi) {
    record("unselect_openings", {plugin, lo, hi});
}
void __stdcall zoom_to(u32 plugin, u32 lo, u32 hi) { record("zoom_to", {plugin, lo, hi}); }
void __stdcall invalidate(u32 plugin) { record("invalidate", {plugin}); }
unsigned char __stdcall get_bounds(u32 plugin, u32 lo, u32 hi, double* bounds) {
    record("get_bounds", {plugin, lo, hi, u32(reinterpret_cast<std::uintptr_t>(bounds))});
    const int i = object_index(lo, hi);
    if (i < 0 || bounds == nullptr) return 0;
    std::memcpy(bounds, kbtest::answers().bounds[i], sizeof kbtest::answers().bounds[i]);
    return 1;
}
double __stdcall get_volume(u32 plugin, u32 lo, u32 hi) {
    record("get_volume", {plugin, lo, hi});
    const int i = object_index(lo, hi);
    return i < 0 ? 0.0 : kbtest::answers().volume[i];
}
double __stdcall get_total_area(u32 plugin, u32 lo, u32 hi) {
    record("get_total_area", {plugin, lo, hi});
    const int i = object_index(lo, hi);
    return i < 0 ? 0.0 : kbtest::answers().area[i];
}
u32 __stdcall get_loaded_ifc_files_count(u32 plugin) {
    record("get_loaded_ifc_files_count", {plugin});
    return 0;
}

}  // extern "C"
