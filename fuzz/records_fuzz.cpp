// An outbound transfer over a fake viewer whose whole model comes from the fuzzer: objects,
// property names and values in arbitrary UTF-16 (lone surrogates included), numbers of every
// kind (nan, inf, 1e308, denormals), selections, file names and bounds. Every sent record must
// keep its texts terminated inside their fields and carry the transfer's request code.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "core/plugin.h"
#include "elements/element_record.h"
#include "fake_host.h"
#include "peer/transfer.h"
#include "platform/sim/sim_desktop.h"

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

double any_double(FuzzedDataProvider& in) {
    static const double special[] = {0.0,
                                     -0.0,
                                     1e308,
                                     -1e308,
                                     std::numeric_limits<double>::infinity(),
                                     -std::numeric_limits<double>::infinity(),
                                     std::numeric_limits<double>::quiet_NaN(),
                                     -std::numeric_limits<double>::quiet_NaN(),
                                     std::numeric_limits<double>::denorm_min(),
                                     std::numeric_limits<double>::max(),
                                     0.1,
                                     -123456.789};
    if (in.ConsumeBool()) return special[in.ConsumeIntegralInRange<std::size_t>(0, 11)];
    std::uint64_t bits = in.ConsumeIntegral<std::uint64_t>();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

/// Arbitrary UTF-16; now and then a long run, so that every field can overflow.
std::u16string any_text(FuzzedDataProvider& in) {
    std::u16string s;
    const std::size_t units = in.ConsumeIntegralInRange<std::size_t>(0, 24);
    for (std::size_t k = 0; k < units && in.remaining_bytes() > 0; ++k)
        s.push_back(in.ConsumeIntegral<char16_t>());
    if (in.ConsumeIntegralInRange(0, 15) == 0)
        s.append(in.ConsumeIntegralInRange<std::size_t>(0, 12000),
                 in.ConsumeIntegral<char16_t>());
    return s;
}

std::optional<std::u16string> any_name(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 6)) {
        case 0: return u"Guid";
        case 1: return u"Name";
        case 2: return u"IfcEntity";
        case 3: return u"ObjectType";
        case 4: return std::nullopt;
        default: return any_text(in);
    }
}

std::u16string any_value(FuzzedDataProvider& in) {
    static const char16_t* const containers[] = {u"IfcProject", u"IfcSite", u"IfcBuilding",
                                                 u"IfcBuildingStorey"};
    if (in.ConsumeIntegralInRange(0, 7) == 0)
        return containers[in.ConsumeIntegralInRange<std::size_t>(0, 3)];
    return any_text(in);
}

bool terminated(const char* field, std::size_t width) {
    return std::memchr(field, 0, width) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    fake::FakeHost host;

    const std::size_t objects = in.ConsumeIntegralInRange<std::size_t>(0, 12);
    for (std::size_t i = 0; i < objects; ++i) {
        fake::Object o;
        o.id = in.ConsumeBool() ? i + 1 : in.ConsumeIntegral<std::uint64_t>();
        const std::size_t sets = in.ConsumeIntegralInRange<std::size_t>(0, 4);
        for (std::size_t j = 0; j < sets; ++j) {
            fake::PropertySet& set = o.set(j);
            const std::size_t props = in.ConsumeIntegralInRange<std::size_t>(0, 8);
            for (std::size_t k = 0; k < props; ++k) {
                fake::Prop p;
                p.name = any_name(in);
                p.value_type = in.ConsumeBool() ? 0 : in.ConsumeIntegral<std::int32_t>();
                if (p.value_type == 0) {
                    if (in.ConsumeIntegralInRange(0, 9) != 0) p.text = any_value(in);
                } else {
                    p.number = any_double(in);
                }
                set.add(std::move(p));
            }
        }
        o.bounds = {any_double(in), any_double(in), any_double(in),
                    any_double(in), any_double(in), any_double(in)};
        o.fills_bounds = in.ConsumeBool();
        o.volume = any_double(in);
        o.area = any_double(in);
        host.objects.push_back(std::move(o));
    }
    const std::size_t selected = in.ConsumeIntegralInRange<std::size_t>(0, 4);
    for (std::size_t i = 0; i < selected; ++i)
        host.selected.push_back(!host.objects.empty() && in.ConsumeBool()
                                    ? host.objects[in.ConsumeIntegralInRange<std::size_t>(
                                                       0, host.objects.size() - 1)]
                                          .id
                                    : in.ConsumeIntegral<std::uint64_t>());
    const std::size_t files = in.ConsumeIntegralInRange<std::size_t>(0, 4);
    for (std::size_t f = 0; f < files; ++f)
        host.files.push_back(in.ConsumeIntegralInRange(0, 7) == 0
                                 ? std::nullopt
                                 : std::optional<std::u16string>(any_text(in)));
    host.install();

    kb::sim::SimDesktop desktop;
    desktop.add_process(77, "\\Device\\HarddiskVolume1\\KESTRO\\kestro.exe");
    auto* peer = desktop.add_window(77);
    kb::Plugin plugin{desktop.platform()};
    plugin.state.plugin_id = 3;
    plugin.state.main_window = reinterpret_cast<kb::platform::WindowHandle>(0x1234);

    std::int32_t expected = 0;
    switch (in.ConsumeIntegralInRange(0, 2)) {
        case 0: kb::handle_button_click(plugin); expected = kb::REQUEST_UPDATE; break;
        case 1: kb::handle_selection_change(plugin); expected = kb::REQUEST_SELECTION; break;
        default: kb::handle_drag_enter(plugin); expected = kb::REQUEST_DRAG; break;
    }

    check(desktop.sent.size() <= 1);
    check(desktop.message_boxes.empty());
    if (expected == kb::REQUEST_UPDATE) check(desktop.sent.size() == 1);
    for (const auto& m : desktop.sent) {
        check(m.to == peer && m.from == plugin.state.main_window);
        check(m.size == m.data * kb::element_record_size);
        check(m.bytes.size() == m.size);
        check(expected == kb::REQUEST_UPDATE || m.data >= 1);
        for (std::size_t at = 0; at < m.bytes.size(); at += kb::element_record_size) {
            kb::ElementRecord r;
            std::memcpy(&r, m.bytes.data() + at, sizeof r);
            check(r.guid[0] != 0);
            check(terminated(r.guid, sizeof r.guid) && terminated(r.texto, sizeof r.texto) &&
                  terminated(r.entidad, sizeof r.entidad) && terminated(r.tipo, sizeof r.tipo) &&
                  terminated(r.ficheros, sizeof r.ficheros) &&
                  terminated(r.propiedad, sizeof r.propiedad));
            check(r.codigo == expected);
            check(std::strstr(r.propiedad, "#VOLUMEN#") != nullptr);
            static const unsigned char zero[4] = {};
            check(std::memcmp(r.gap1, zero, 4) == 0 && std::memcmp(r.gap2, zero, 4) == 0);
        }
    }
    return 0;
}
