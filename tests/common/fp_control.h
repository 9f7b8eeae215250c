// The caller's side of the floating-point state, as a test sets and reads it (x86: x87 and SSE).
#pragma once

#include <cstdint>

namespace fp_test {

/// Invalid operation, division by zero and overflow unmasked, as some application frameworks run.
inline constexpr std::uint16_t host_x87_control = 0x0272;
inline constexpr std::uint32_t host_mxcsr = 0x1900;

inline std::uint16_t x87_control() {
    std::uint16_t cw;
    asm volatile("fnstcw %0" : "=m"(cw));
    return cw;
}
/// Clears the exception flags first, so that unmasking cannot trap on a flag already raised.
inline void set_x87_control(std::uint16_t cw) {
    asm volatile("fnclex\n\tfldcw %0" : : "m"(cw) : "memory");
}
inline std::uint16_t x87_status() {
    std::uint16_t sw;
    asm volatile("fnstsw %0" : "=m"(sw));
    return sw;
}
inline std::uint32_t mxcsr() {
    std::uint32_t v;
    asm volatile("stmxcsr %0" : "=m"(v));
    return v;
}
inline void set_mxcsr(std::uint32_t v) { asm volatile("ldmxcsr %0" : : "m"(v) : "memory"); }

}  // namespace fp_test
