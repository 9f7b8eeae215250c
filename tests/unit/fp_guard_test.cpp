// The floating-point guard at the module's boundary: the caller's control words and flags come back
// as they were, and a host that runs with exceptions unmasked gets its records without a fault.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "core/fp_guard.h"
#include "elements/element_record.h"
#include "elements/text.h"
#include "fp_control.h"
#include "peer_fixture.h"
#include "shell/entry_points.h"

#if defined(__i386__) || defined(__x86_64__)

namespace {

using kb::FloatingPointGuard;
using namespace peer_test;
using namespace fp_test;

constexpr std::uint16_t x87_flags = 0x003F;
constexpr std::uint32_t sse_flags = 0x003F;
constexpr std::uint32_t sse_divide_by_zero = 0x0004;

/// 0/0 on the x87 and on SSE: raises the invalid-operation flag on both (masked, no trap). SSE is
/// named for this function only: a plain i686 build uses none.
__attribute__((target("sse"))) void raise_invalid_on_both() {
    asm volatile("fldz\n\tfdiv %%st(0), %%st\n\tfstp %%st(0)" ::: "memory");
    asm volatile("xorps %%xmm0, %%xmm0\n\tdivss %%xmm0, %%xmm0" ::: "xmm0", "memory");
}

/// The caller's state as the test sets it; put back to the defaults afterwards.
class FpState : public ::testing::Test {
protected:
    void SetUp() override {
        saved_cw_ = x87_control();
        saved_mxcsr_ = mxcsr();
    }
    void TearDown() override {
        set_x87_control(saved_cw_);
        set_mxcsr(saved_mxcsr_);
    }

private:
    std::uint16_t saved_cw_ = 0;
    std::uint32_t saved_mxcsr_ = 0;
};

TEST_F(FpState, InsideEverythingIsMaskedAndCleanAndOutsideTheCallersWordsComeBack) {
    set_x87_control(host_x87_control);
    set_mxcsr(host_mxcsr);
    std::uint16_t inner_cw = 0, inner_status = 0xFFFF;
    std::uint32_t inner_mxcsr = 0;
    {
        FloatingPointGuard guard;
        inner_cw = x87_control();
        inner_status = x87_status();
        inner_mxcsr = mxcsr();
        raise_invalid_on_both();  // masked inside: flags only
        FloatingPointGuard nested;  // a way in from inside (a message sent during a transfer)
        raise_invalid_on_both();
    }
    const std::uint16_t cw = x87_control(), status = x87_status();
    const std::uint32_t m = mxcsr();
    set_x87_control(0x037F);
    set_mxcsr(0x1F80);
    EXPECT_EQ(inner_cw, FloatingPointGuard::module_x87_control);
    EXPECT_EQ(inner_status & x87_flags, 0);
    EXPECT_EQ(inner_mxcsr, FloatingPointGuard::module_mxcsr);
    EXPECT_EQ(cw, host_x87_control);
    EXPECT_EQ(status & x87_flags, 0) << "flags raised inside are gone";
    EXPECT_EQ(m, host_mxcsr);
}

/// a + b on the x87 itself, kept as the full 80-bit register: rounded only by the control word.
long double x87_add(long double a, long double b) {
    long double sum;
    asm volatile("fldt %1\n\tfldt %2\n\tfaddp\n\tfstpt %0"
                 : "=m"(sum)
                 : "m"(a), "m"(b)
                 : "st", "st(1)", "memory");
    return sum;
}

// The precision the module computes at, by what it does and by the documented precision-control
// field (bits 8-9: 00 single, 10 double, 11 extended), whatever precision and rounding the caller
// runs at: 1 + 2^-30 survives (more than single's 24 bits), 1 + 2^-60 rounds to 1 (fewer than
// extended's 64), and 1 + 3 * 2^-54 rounds to the nearest double, 1 + 2^-52.
TEST_F(FpState, InsideTheX87RoundsToTheNearestDouble) {
    const long double one = 1.0L;
    const long double two_30 = std::ldexp(1.0L, -30), two_60 = std::ldexp(1.0L, -60);
    const long double three_54 = 3 * std::ldexp(1.0L, -54);
    // Single precision; extended precision; single precision rounding toward zero.
    for (const std::uint16_t caller : {std::uint16_t{0x007F}, std::uint16_t{0x037F},
                                       std::uint16_t{0x0C7F}}) {
        set_x87_control(caller);
        long double kept = 0, lost = 0, nearest = 0;
        std::uint16_t inner_cw = 0;
        {
            FloatingPointGuard guard;
            inner_cw = x87_control();
            kept = x87_add(one, two_30);
            lost = x87_add(one, two_60);
            nearest = x87_add(one, three_54);
        }
        set_x87_control(0x037F);
        EXPECT_EQ(inner_cw & 0x0300, 0x0200) << std::hex << caller;
        EXPECT_EQ(inner_cw & 0x0C00, 0x0000) << std::hex << caller;
        EXPECT_TRUE(kept == one + two_30) << std::hex << caller;
        EXPECT_TRUE(lost == one) << std::hex << caller;
        EXPECT_TRUE(nearest == one + std::ldexp(1.0L, -52)) << std::hex << caller;
    }
}

TEST_F(FpState, TheCallersOwnFlagsAndRoundingSurviveAndDoNotLeakIn) {
    asm volatile("fnclex");
    // Round toward zero, 24-bit precision on the x87 and flush-to-zero on SSE, all masked.
    const std::uint16_t caller_cw = 0x0C7F;
    const std::uint32_t caller_mxcsr = 0x7F80 | sse_divide_by_zero;
    set_x87_control(caller_cw);
    set_mxcsr(caller_mxcsr);
    asm volatile("fld1\n\tfldz\n\tfdivrp\n\tfstp %%st(0)" ::: "memory");  // the caller's own 1/0
    const std::uint16_t caller_status = x87_status();
    std::uint16_t inner_status = 0xFFFF;
    std::uint32_t inner_mxcsr = 0;
    {
        FloatingPointGuard guard;
        inner_status = x87_status();
        inner_mxcsr = mxcsr();
        raise_invalid_on_both();
    }
    EXPECT_EQ(caller_status & x87_flags, 0x0004);
    EXPECT_EQ(inner_status & x87_flags, 0);
    EXPECT_EQ(inner_mxcsr & sse_flags, 0u);
    EXPECT_EQ(x87_control(), caller_cw);
    EXPECT_EQ(x87_status() & x87_flags, 0x0004) << "the caller's flag, and only that";
    EXPECT_EQ(mxcsr(), caller_mxcsr);
}

// A host running with exceptions unmasked serves infinite and not-a-number extents, volume and
// area: the click sends both records (without the guard, inf - inf traps and the process dies).
class UnmaskedHost : public ViewerTest {
protected:
    void model() {
        const double inf = std::numeric_limits<double>::infinity();
        const double nan = std::numeric_limits<double>::quiet_NaN();
        auto& broken = host.element(1, u"2O2Fr$t4X7Zf8NOew3FLOH", u"Sin geometria", u"IfcWall");
        broken.bounds = {inf, -1.7e308, nan, inf, 1.7e308, 1.0};  // inf-inf, overflow, NaN
        broken.volume = inf;
        broken.area = nan;
        auto& wall = host.element(2, u"1kTvXnbbzCWw8lcMd1dR4o", u"Muro", u"IfcWall");
        wall.bounds = {0.25, -1.5, 0.0, 4.75, 2.5, 3.125};
        wall.volume = 12.5;
        wall.area = 7.0 / 3.0;
    }
    std::vector<unsigned char> click() {
        host.click_handler();
        if (desktop.sent.empty()) return {};
        auto bytes = desktop.sent.back().bytes;
        desktop.sent.clear();
        return bytes;
    }
};

TEST_F(UnmaskedHost, ButtonSendsBothRecordsWithIeeeResultsAndLeavesTheHostsStateAlone) {
    model();
    start_peer();
    on_plugin_load(plugin_id, 0, main_window);
    const std::vector<unsigned char> masked = click();
    ASSERT_EQ(masked.size(), 2 * kb::element_record_size);

    const std::uint16_t saved_cw = x87_control();
    const std::uint32_t saved_mxcsr = mxcsr();
    asm volatile("fnclex");
    set_mxcsr(host_mxcsr);
    set_x87_control(host_x87_control);
    const std::vector<unsigned char> unmasked = click();
    const std::uint16_t cw = x87_control();
    const std::uint32_t m = mxcsr();
    set_x87_control(saved_cw);
    set_mxcsr(saved_mxcsr);

    EXPECT_EQ(cw, host_x87_control);
    EXPECT_EQ(m, host_mxcsr);
    ASSERT_EQ(unmasked.size(), 2 * kb::element_record_size);
    EXPECT_EQ(unmasked, masked) << "the same bytes, whatever the host's control word";

    kb::ElementRecord broken, wall;
    std::memcpy(&broken, unmasked.data(), sizeof broken);
    std::memcpy(&wall, unmasked.data() + kb::element_record_size, sizeof wall);
    EXPECT_TRUE(std::isnan(broken.dx));
    EXPECT_TRUE(std::isinf(broken.dy) && broken.dy > 0);
    EXPECT_TRUE(std::isnan(broken.dz));
    std::string expected = "#VOLUMEN#";
    for (char16_t c : kb::format_fixed(std::numeric_limits<double>::infinity()))
        expected += static_cast<char>(c);
    expected += "#AREA#";
    for (char16_t c : kb::format_fixed(std::numeric_limits<double>::quiet_NaN()))
        expected += static_cast<char>(c);
    EXPECT_EQ(std::string(broken.propiedad), expected);
    EXPECT_EQ(wall.dx, 4.5);
    EXPECT_EQ(wall.dy, 4.0);
    EXPECT_EQ(wall.dz, 3.125);
    EXPECT_EQ(std::string(wall.propiedad), "#VOLUMEN#12.500000#AREA#2.333333");
}

// The host's own window procedure runs under the host's settings: every message of its main window
// passes through the plugin's procedure, a GUID request included.
std::uint16_t cw_seen_by_host = 0;
MessageResult KB_STDCALL host_proc_reading_cw(WindowHandle, std::uint32_t, std::uintptr_t,
                                              std::intptr_t) {
    cw_seen_by_host = x87_control();
    return 5;
}

TEST_F(UnmaskedHost, TheHostsOwnWindowProcedureRunsUnderTheHostsControlWord) {
    model();
    plugin.state.previous_window_proc = &host_proc_reading_cw;
    const char guid[] = "1kTvXnbbzCWw8lcMd1dR4o";
    const CopyData data{0, sizeof guid, guid};
    const std::uint16_t saved_cw = x87_control();
    set_x87_control(host_x87_control);
    const MessageResult copydata = request(data);
    const std::uint16_t seen_in_request = cw_seen_by_host;
    cw_seen_by_host = 0;
    const MessageResult other = kb::window_proc_trampoline(main_window, 0x000F, 0, 0);
    const std::uint16_t seen_in_other = cw_seen_by_host;
    const std::uint16_t after = x87_control();
    set_x87_control(saved_cw);

    EXPECT_EQ(copydata, 5);
    EXPECT_EQ(other, 5);
    EXPECT_EQ(seen_in_request, host_x87_control);
    EXPECT_EQ(seen_in_other, host_x87_control);
    EXPECT_EQ(after, host_x87_control);
    EXPECT_EQ(host.calls_named({"zoom_to"}).size(), 1u) << "the request itself was handled";
}

}  // namespace

#endif
