// The floating-point state at the module's boundary.
//
// The plugin runs under the control word of whoever calls it. Some hosts run with the x87
// invalid-operation, division-by-zero and overflow exceptions unmasked; an infinite or
// not-a-number value from the host then turns a plain subtraction into a hardware exception that
// no catch stops. So every way into the module (exported entry points, the host's handlers, the
// window procedure, system callbacks) holds one FloatingPointGuard for the length of the call,
// and nothing inside the module touches the floating-point state.
#pragma once

#include <cstdint>

#if !defined(__i386__) && !defined(__x86_64__)
#include <cfenv>
#endif

namespace kb {

/// Saves the caller's x87 environment and SSE control/status register, then sets the module's
/// own: every exception masked, no flag raised, round to nearest, double precision on the x87,
/// no flush-to-zero. On the way out the caller's control words and exception flags come back as
/// they were, and the flags the module raised are gone.
class FloatingPointGuard {
public:
    /// x87 control word of the module's work: all six exceptions masked, 53-bit precision,
    /// round to nearest.
    static constexpr std::uint16_t module_x87_control = 0x027F;
    /// MXCSR of the module's work: all six exceptions masked, flags clear, round to nearest,
    /// denormals kept.
    static constexpr std::uint32_t module_mxcsr = 0x1F80;

    FloatingPointGuard() noexcept { enter(); }
    ~FloatingPointGuard() { leave(); }
    FloatingPointGuard(const FloatingPointGuard&) = delete;
    FloatingPointGuard& operator=(const FloatingPointGuard&) = delete;

#if defined(__i386__) || defined(__x86_64__)
private:
    // The 28-byte environment FNSTENV writes in 32-bit operand form (also in 64-bit mode).
    struct X87Environment {
        std::uint16_t control, unused0;
        std::uint16_t status, unused1;
        std::uint16_t tag, unused2;
        std::uint32_t rest[4];  // instruction and operand pointers
    };
    static constexpr std::uint16_t x87_top_bits = 0x3800;  // stack top in the status word

    /// True when the processor has SSE, so that MXCSR exists. Always so on x86-64; a 32-bit
    /// module may meet a processor without it (a plain i686 build uses no SSE itself).
    static bool has_sse() noexcept {
#if defined(__x86_64__)
        return true;
#else
        static const bool sse = [] {
            std::uint32_t eax = 1, ebx, ecx = 0, edx;
            // Leaf 1 exists on every processor that runs an i686 build; EDX bit 25 is SSE.
            asm volatile("cpuid" : "+a"(eax), "=b"(ebx), "+c"(ecx), "=d"(edx));
            return (edx & (1u << 25)) != 0;
        }();
        return sse;
#endif
    }

    void enter() noexcept {
        // FNSTENV keeps the whole environment, the caller's flags included, and masks all x87
        // exceptions as it does so; FNCLEX then drops the flags for the module's own work.
        asm volatile("fnstenv %0" : "=m"(caller_x87_) : : "memory");
        const std::uint16_t control = module_x87_control;
        asm volatile("fnclex\n\tfldcw %0" : : "m"(control) : "memory");
        sse_ = has_sse();
        if (sse_) {
            const std::uint32_t mxcsr = module_mxcsr;
            asm volatile("stmxcsr %0" : "=m"(caller_mxcsr_));
            asm volatile("ldmxcsr %0" : : "m"(mxcsr) : "memory");
        }
    }

    void leave() noexcept {
        // The register stack stays as the module's work left it (a result may be on it); only
        // the control word and the status bits other than the stack top go back to the caller's.
        X87Environment now;
        asm volatile("fnstenv %0" : "=m"(now) : : "memory");
        now.control = caller_x87_.control;
        now.status = static_cast<std::uint16_t>((now.status & x87_top_bits) |
                                                (caller_x87_.status & ~x87_top_bits));
        asm volatile("fldenv %0" : : "m"(now) : "memory");
        if (sse_) asm volatile("ldmxcsr %0" : : "m"(caller_mxcsr_) : "memory");
    }

    X87Environment caller_x87_;
    std::uint32_t caller_mxcsr_ = 0;
    bool sse_ = false;
#else
private:
    // Elsewhere the standard functions do the same: feholdexcept saves the environment, clears
    // the flags and masks every exception; fesetenv puts the caller's back, flags included.
    void enter() noexcept { std::feholdexcept(&caller_); }
    void leave() noexcept { std::fesetenv(&caller_); }
    std::fenv_t caller_;
#endif
};

}  // namespace kb
