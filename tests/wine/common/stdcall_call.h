// Calls a function the way a 32-bit Windows host does: pushes argument words right to left, calls,
// and measures whether the callee removed exactly those words from the stack.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

extern "C" std::uint32_t kb_call_stdcall(const void* fn, const std::uint32_t* words,
                                         std::uint32_t count, std::int32_t* stack_left);

struct StdcallResult {
    std::uint32_t eax;    // the callee's 32-bit result (a one-byte result is its low byte)
    std::int32_t left;    // bytes the callee left on the stack: 0 when it removed all its words
};

inline StdcallResult call_stdcall(const void* fn, std::initializer_list<std::uint32_t> args) {
    std::vector<std::uint32_t> words(args);
    StdcallResult r{};
    r.eax = kb_call_stdcall(fn, words.data(), static_cast<std::uint32_t>(words.size()), &r.left);
    return r;
}

/// Reads the stack pointer; used around calls to see that they leave it where it was.
#define KB_READ_ESP(var) asm volatile("movl %%esp, %0" : "=r"(var))
