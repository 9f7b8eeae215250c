// A plugin of the substitute viewer's own tests. It binds the host functions by name exactly as
// the real module does (the shared forwarding code, so every call pushes the host's argument
// words), and writes what it sees to the file named by BVS_PROBE_REPORT, one "key=value" a line.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host_table.h"

namespace {

std::uint32_t g_plugin = 0;
bv::ObjectId g_pseudo = 0;
std::FILE* g_report = nullptr;
bv::LabelRecord g_label;  // all zero

void report(const std::string& line) {
    if (!g_report) return;
    std::fputs((line + "\n").c_str(), g_report);
    std::fflush(g_report);
}

std::string narrow(const char16_t* s) {
    std::string out;
    if (s == nullptr) return "(null)";
    for (; *s; ++s) out += *s < 0x80 ? static_cast<char>(*s) : '?';
    return out;
}

void* resolve(void*, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), name));
}

void on_click() { report("click"); }

void on_selection() {
    std::uint32_t n = host::get_selected(g_plugin, nullptr, 0u);
    std::vector<bv::ObjectId> ids(n);
    if (n) host::get_selected(g_plugin, ids.data(), n);
    std::string line = "selection=";
    line += std::to_string(n);
    for (bv::ObjectId id : ids) {
        line += ' ';
        line += std::to_string(id);
    }
    report(line);
}

void on_draw() { host::draw_label(g_plugin, &g_label); }

void on_model() {
    g_pseudo = host::get_selected_id(g_plugin);
    report("pseudo=" + std::to_string(g_pseudo));
    std::uint32_t n = host::get_all_objects(g_plugin, nullptr, 0u);
    std::vector<bv::ObjectId> ids(n);
    if (n) host::get_all_objects(g_plugin, ids.data(), n);
    report("objects=" + std::to_string(n));

    int files = static_cast<int>(host::get_loaded_ifc_files_count(g_plugin));
    std::string names;
    for (int i = 0; i < files; ++i)
        names += narrow(reinterpret_cast<const char16_t*>(host::get_loaded_ifc_filename(g_plugin, i))) + "#";
    report("files=" + names);

    // Every object: its sets and properties, its GUID; the high-id object's measures.
    std::size_t properties = 0, numbers = 0;
    for (bv::ObjectId id : ids) {
        std::uint32_t sets = host::get_property_sets(g_plugin, id, nullptr, 0u);
        std::string guid;
        for (std::uint32_t j = 0; j < sets; ++j) {
            bv::PropertyGroupKey key{id, j, 0};
            std::uint32_t c = host::get_properties(g_plugin, &key, nullptr, 0u);
            std::vector<bv::Property> props(c);
            if (c) host::get_properties(g_plugin, &key, props.data(), c);
            for (const bv::Property& p : props) {
                ++properties;
                if (p.value_type != 0) ++numbers;
                if (p.value_type == 0 && p.name && narrow(p.name) == "Guid")
                    guid = narrow(bv::property_text(p));
            }
        }
        if (id > 0xFFFFFFFFull) {
            bv::Bounds b;
            std::uint8_t ok = host::get_bounds(g_plugin, id, &b);
            char buf[200];
            std::snprintf(buf, sizeof buf, "high=%llu guid=%s bounds=%d dx=%.2f dz=%.2f vol=%.2f area=%.2f",
                          static_cast<unsigned long long>(id), guid.c_str(), ok, b.max_x - b.min_x,
                          b.max_z - b.min_z, host::get_volume(g_plugin, id),
                          host::get_total_area(g_plugin, id));
            report(buf);
        }
    }
    report("properties=" + std::to_string(properties) + " numbers=" + std::to_string(numbers));

    // Selection round trip through the pseudo id.
    if (n >= 2) {
        host::select(g_plugin, ids[1], true);
        std::uint32_t one = host::get_selected(g_plugin, nullptr, 0u);
        host::select(g_plugin, g_pseudo, false);
        std::uint32_t none = host::get_selected(g_plugin, nullptr, 0u);
        report("select=" + std::to_string(one) + "," + std::to_string(none));
        host::set_object_active(g_plugin, ids[n - 1], true, false);
        host::unselect_openings(g_plugin, ids[n - 1]);
        host::zoom_to(g_plugin, ids[n - 1]);
        host::invalidate(g_plugin);
    }
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) bv::bind_host_functions(bv::host_table(), resolve, nullptr);
    return TRUE;
}

__attribute__((stdcall)) void* get_api_verion(std::uintptr_t, void* pair) {
    auto* p = static_cast<std::int32_t*>(pair);
    p[0] = 5;
    p[1] = 38;
    return pair;
}

__attribute__((stdcall)) void* get_plugin_info(void* info) {
    static const wchar_t* texts[5] = {L"viewer_probe", L"tests", L"", L"", L"Sonda de pruebas"};
    std::memcpy(info, texts, sizeof texts);
    return info;
}

__attribute__((stdcall)) void on_plugin_load(std::uint32_t id, std::uintptr_t, void* window) {
    g_plugin = id;
    wchar_t path[1024] = {};
    if (GetEnvironmentVariableW(L"BVS_PROBE_REPORT", path, 1024) > 0)
        g_report = _wfopen(path, L"w");
    report("load plugin=" + std::to_string(id) + " window=" + std::to_string(window != nullptr));
    std::uint32_t button = static_cast<std::uint32_t>(host::create_button(g_plugin, 0u, &on_click));
    host::set_button_text(g_plugin, button, u"Sonda", u"Comprobar el anfitrión");
    host::set_button_image(g_plugin, button, u"Z:\\no\\such\\folder\\probe.ico");
    host::on_selection_change(g_plugin, &on_selection);
    host::on_draw(g_plugin, &on_draw);
    host::on_model_load(g_plugin, &on_model);
    report("button=" + std::to_string(button));
}

__attribute__((stdcall)) void on_plugin_unload() { report("unload"); }

__attribute__((stdcall)) std::int32_t on_drag_enter(std::uintptr_t, std::uintptr_t, std::uintptr_t) {
    report("drag");
    return 2;
}

}  // extern "C"
