// Arbitrary WM_COPYDATA messages against the subclass procedure and a small fake model. The
// payload lives in a heap block of exactly cbData bytes, so any read past it is caught.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/plugin.h"
#include "fake_host.h"
#include "peer/inbound.h"
#include "platform/sim/sim_desktop.h"
#include "shell/instance.h"

namespace {

using kb::platform::CopyData;
using kb::platform::MessageResult;
using kb::platform::WindowHandle;

constexpr MessageResult host_result = 0x4B42;
int host_calls = 0;

MessageResult KB_STDCALL host_proc(WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) {
    ++host_calls;
    return host_result;
}

void check(bool condition) {
    if (!condition) __builtin_trap();
}

struct World {
    fake::FakeHost host;
    kb::sim::SimDesktop desktop;
    kb::Plugin plugin{desktop.platform()};
    WindowHandle main = nullptr;

    World() {
        host.element(1, u"2O2Fr$t4X7Zf8NOew3FLOH", u"Muro", u"IfcWall");
        auto& odd = host.element(2, u"");
        odd.set(0).null_name().null_text(u"Guid").number(u"Guid", 1e308).text(u"Guid", u"");
        odd.set(3).text(u"Guid", std::u16string(150, u'k'));
        host.element(3, u"\u00e9t\u00e9\u00ff\u0080");
        host.element(4, u"");  // its Guid is set from the input
        host.install();
        main = desktop.add_window(1, &host_proc);
        plugin.state.plugin_id = 9;
        plugin.state.main_window = main;
        plugin.state.previous_window_proc = &host_proc;
        plugin.state.selected_id = 0xFFFFFFFF00000001ull;
        kb::set_active_plugin(&plugin);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static World world;
    FuzzedDataProvider in(data, size);
    world.host.calls.clear();
    host_calls = 0;

    // The fourth object's GUID, as arbitrary UTF-16 (lone surrogates included).
    auto& last = world.host.objects.back().sets[0].props;
    last.clear();
    const std::size_t units = in.ConsumeIntegralInRange<std::size_t>(0, 200);
    std::u16string guid;
    for (std::size_t k = 0; k < units && in.remaining_bytes() > 0; ++k)
        guid.push_back(in.ConsumeIntegral<char16_t>());
    last.push_back({std::u16string(u"Guid"), 0, guid, 0.0});

    const int shape = in.ConsumeIntegralInRange(0, 7);
    const std::uint32_t message = shape == 7 ? in.ConsumeIntegral<std::uint32_t>() : 0x004A;
    const std::uintptr_t wparam = in.ConsumeIntegral<std::uintptr_t>();
    CopyData cds{in.ConsumeIntegral<std::uintptr_t>(), 0, nullptr};
    std::vector<std::uint8_t> rest = in.ConsumeRemainingBytes<std::uint8_t>();
    std::unique_ptr<std::uint8_t[]> payload;
    std::intptr_t lparam = reinterpret_cast<std::intptr_t>(&cds);
    if (shape == 0) {
        lparam = 0;  // no COPYDATASTRUCT at all
    } else if (shape == 1) {
        cds.size = static_cast<std::uint32_t>(rest.size());  // a size without data
    } else {
        cds.size = static_cast<std::uint32_t>(rest.size());
        if (!rest.empty()) {
            payload = std::make_unique<std::uint8_t[]>(rest.size());
            std::memcpy(payload.get(), rest.data(), rest.size());
            cds.bytes = payload.get();
        } else if (shape == 2) {
            static std::uint8_t nothing;
            cds.bytes = &nothing;  // cbData 0: not even one byte may be read
        }
    }

    const MessageResult r = kb::window_proc_trampoline(world.main, message, wparam, lparam);
    check(r == host_result);
    check(host_calls == 1);

    // A selection only ever lands on an object that carries the text exactly.
    for (const fake::Call& c : world.host.calls) {
        if (c.name != "zoom_to") continue;
        check(message == 0x004A && cds.bytes != nullptr && lparam != 0);
        const auto* bytes = static_cast<const std::uint8_t*>(cds.bytes);
        std::u16string text;
        for (std::uint32_t k = 0; k < cds.size && bytes[k] != 0; ++k) text.push_back(bytes[k]);
        bool carried = false;
        if (fake::Object* o = world.host.find(c.args[1]))
            for (const auto& set : o->sets)
                for (const auto& p : set.props)
                    // The host hands its texts out as C strings: a value ends at its first NUL.
                    carried = carried || (p.name && *p.name == u"Guid" && p.value_type == 0 &&
                                          p.text && std::u16string(p.text->c_str()) == text);
        check(carried);
    }
    return 0;
}
