// The host functions the executable exports for the plugin. The .def file gives them their plain
// names (no underscore, no argument-size suffix); the plugin finds them with GetProcAddress on the
// executable. Each one forwards to the HostApi and lets nothing escape into the caller.
#include <cstdint>

#include "host_api.h"
#include "host_table.h"
#include "viewer_app.h"

#define BVS_EXPORT extern "C" __attribute__((stdcall))

namespace {

using bv::HostFunction;

// The argument sizes below must be the host's: cross-check them against the host function list.
constexpr unsigned words(HostFunction f) {
    return bv::host_function_words[static_cast<std::size_t>(f)];
}
static_assert(words(HostFunction::get_selected_id) == 1);
static_assert(words(HostFunction::get_selected) == 3);
static_assert(words(HostFunction::get_all_objects) == 3);
static_assert(words(HostFunction::get_property_sets) == 5);
static_assert(words(HostFunction::get_properties) == 4);
static_assert(words(HostFunction::get_bounds) == 4);
static_assert(words(HostFunction::get_volume) == 3);
static_assert(words(HostFunction::get_total_area) == 3);
static_assert(words(HostFunction::get_loaded_ifc_files_count) == 1);
static_assert(words(HostFunction::get_loaded_ifc_filename) == 2);
static_assert(words(HostFunction::select) == 4);
static_assert(words(HostFunction::set_object_active) == 5);
static_assert(words(HostFunction::unselect_openings) == 3);
static_assert(words(HostFunction::zoom_to) == 3);
static_assert(words(HostFunction::invalidate) == 1);
static_assert(words(HostFunction::draw_label) == 2);
static_assert(words(HostFunction::create_button) == 3);
static_assert(words(HostFunction::set_button_text) == 4);
static_assert(words(HostFunction::set_button_image) == 3);
static_assert(words(HostFunction::on_selection_change) == 2);
static_assert(words(HostFunction::on_draw) == 2);
static_assert(words(HostFunction::on_model_load) == 2);

bvs::HostApi* api() { return bvs::ViewerApp::host(); }

bool flag(std::uint32_t word) { return (word & 0xFFu) != 0; }

template <class R, class F>
R guarded(R fallback, F&& body) {
    try {
        if (api() == nullptr) return fallback;
        return body(*api());
    } catch (...) {
        bvs::ViewerApp::report_internal_error();
        return fallback;
    }
}

template <class F>
void guarded_void(F&& body) {
    try {
        if (api() != nullptr) body(*api());
    } catch (...) {
        bvs::ViewerApp::report_internal_error();
    }
}

}  // namespace

using bvs::HostApi;
using bv::ObjectId;

BVS_EXPORT std::uint64_t bvs_get_selected_id(std::uint32_t plugin) {
    return guarded<std::uint64_t>(0, [&](HostApi& h) { return h.get_selected_id(plugin); });
}

BVS_EXPORT std::uint32_t bvs_get_selected(std::uint32_t plugin, ObjectId* buffer,
                                          std::uint32_t capacity) {
    return guarded<std::uint32_t>(
        0, [&](HostApi& h) { return h.get_selected(plugin, buffer, capacity); });
}

BVS_EXPORT std::uint32_t bvs_get_all_objects(std::uint32_t plugin, ObjectId* buffer,
                                             std::uint32_t capacity) {
    return guarded<std::uint32_t>(
        0, [&](HostApi& h) { return h.get_all_objects(plugin, buffer, capacity); });
}

BVS_EXPORT std::uint32_t bvs_get_property_sets(std::uint32_t plugin, ObjectId id, void* buffer,
                                               std::uint32_t capacity) {
    // The first question the plugin asks of each object: a slow viewer is slow here.
    if (const DWORD ms = bvs::ViewerApp::slow_read_ms()) Sleep(ms);
    return guarded<std::uint32_t>(
        0, [&](HostApi& h) { return h.get_property_sets(plugin, id, buffer, capacity); });
}

BVS_EXPORT std::uint32_t bvs_get_properties(std::uint32_t plugin, const bv::PropertyGroupKey* key,
                                            bv::Property* buffer, std::uint32_t capacity) {
    return guarded<std::uint32_t>(
        0, [&](HostApi& h) { return h.get_properties(plugin, key, buffer, capacity); });
}

BVS_EXPORT std::uint8_t bvs_get_bounds(std::uint32_t plugin, ObjectId id, bv::Bounds* bounds) {
    return guarded<std::uint8_t>(
        0, [&](HostApi& h) { return std::uint8_t(h.get_bounds(plugin, id, bounds) ? 1 : 0); });
}

BVS_EXPORT double bvs_get_volume(std::uint32_t plugin, ObjectId id) {
    return guarded<double>(0.0, [&](HostApi& h) { return h.get_volume(plugin, id); });
}

BVS_EXPORT double bvs_get_total_area(std::uint32_t plugin, ObjectId id) {
    return guarded<double>(0.0, [&](HostApi& h) { return h.get_total_area(plugin, id); });
}

BVS_EXPORT std::int32_t bvs_get_loaded_ifc_files_count(std::uint32_t plugin) {
    return guarded<std::int32_t>(0,
                                 [&](HostApi& h) { return h.get_loaded_ifc_files_count(plugin); });
}

BVS_EXPORT const char16_t* bvs_get_loaded_ifc_filename(std::uint32_t plugin, std::int32_t index) {
    return guarded<const char16_t*>(
        nullptr, [&](HostApi& h) { return h.get_loaded_ifc_filename(plugin, index); });
}

BVS_EXPORT void bvs_select(std::uint32_t plugin, ObjectId id, std::uint32_t on) {
    guarded_void([&](HostApi& h) { h.select(plugin, id, flag(on)); });
}

BVS_EXPORT void bvs_set_object_active(std::uint32_t plugin, ObjectId id, std::uint32_t on,
                                      std::uint32_t second) {
    guarded_void([&](HostApi& h) { h.set_object_active(plugin, id, flag(on), flag(second)); });
}

BVS_EXPORT void bvs_unselect_openings(std::uint32_t plugin, ObjectId id) {
    guarded_void([&](HostApi& h) { h.unselect_openings(plugin, id); });
}

BVS_EXPORT void bvs_zoom_to(std::uint32_t plugin, ObjectId id) {
    guarded_void([&](HostApi& h) { h.zoom_to(plugin, id); });
}

BVS_EXPORT void bvs_invalidate(std::uint32_t plugin) {
    guarded_void([&](HostApi& h) { h.invalidate(plugin); });
}

BVS_EXPORT void bvs_draw_label(std::uint32_t plugin, const void* label) {
    guarded_void([&](HostApi& h) { h.draw_label(plugin, label); });
}

BVS_EXPORT std::uint32_t bvs_create_button(std::uint32_t plugin, std::uint32_t arg,
                                           bv::Handler on_click) {
    return guarded<std::uint32_t>(
        0, [&](HostApi& h) { return h.create_button(plugin, arg, on_click); });
}

BVS_EXPORT void bvs_set_button_text(std::uint32_t plugin, std::uint32_t button,
                                    const char16_t* text, const char16_t* hint) {
    guarded_void([&](HostApi& h) { h.set_button_text(plugin, button, text, hint); });
}

BVS_EXPORT void bvs_set_button_image(std::uint32_t plugin, std::uint32_t button,
                                     const char16_t* path) {
    guarded_void([&](HostApi& h) { h.set_button_image(plugin, button, path); });
}

BVS_EXPORT void bvs_on_selection_change(std::uint32_t plugin, bv::Handler handler) {
    guarded_void([&](HostApi& h) { h.on_selection_change(plugin, handler); });
}

BVS_EXPORT void bvs_on_draw(std::uint32_t plugin, bv::Handler handler) {
    guarded_void([&](HostApi& h) { h.on_draw(plugin, handler); });
}

BVS_EXPORT void bvs_on_model_load(std::uint32_t plugin, bv::Handler handler) {
    guarded_void([&](HostApi& h) { h.on_model_load(plugin, handler); });
}
