// The host function table: one entry per host function, bound once by name from the viewer's
// executable, and one forwarding operation per function under the host's own name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "host_records.h"

namespace bv {

/// One argument word as it is pushed for the host. 32 bits in the real (32-bit) viewer; in the
/// native test build it is pointer-wide so that pointers fit, while 64-bit values and doubles still
/// travel as two words of 32 bits each, low half first.
using HostWord = std::uintptr_t;

#define KB_WORD(n) (1u << ((n) - 1))

/// Index of every host function in the table.
enum class HostFunction : unsigned {
#define HOST_FUNCTION(name, words, flags, doubles, result) name,
#include "host_functions.inc"
#undef HOST_FUNCTION
    count
};

inline constexpr std::size_t host_function_count = static_cast<std::size_t>(HostFunction::count);
static_assert(host_function_count == 266, "the host exports 266 functions");

/// The 8-bit names looked up in the executable, in table order.
inline constexpr const char* host_function_names[host_function_count] = {
#define HOST_FUNCTION(name, words, flags, doubles, result) #name,
#include "host_functions.inc"
#undef HOST_FUNCTION
};

/// Number of argument words of every host function, in table order.
inline constexpr unsigned char host_function_words[host_function_count] = {
#define HOST_FUNCTION(name, words, flags, doubles, result) words,
#include "host_functions.inc"
#undef HOST_FUNCTION
};

/// The table itself: an address or null per function, and the bound flag.
struct HostFunctionTable {
    void* entry[host_function_count] = {};
    unsigned char bound = 0;
};

/// Looks a name up; returns the address or null. `context` is the resolver's own.
using HostResolver = void* (*)(void* context, const char* name);

/// Fills `table` once: if it is bound already nothing happens; otherwise the bound flag is set
/// first, then every name is resolved. A name that is not found leaves its entry null.
void bind_host_functions(HostFunctionTable& table, HostResolver resolve, void* context);

/// The process-wide table read by the forwarding operations.
HostFunctionTable& host_table();

// Result kinds.
using result_none = void;
using result_byte = std::uint8_t;
using result_u32 = HostWord;  // counts, ids and pointers
using result_u64 = std::uint64_t;
using result_f64 = double;
using result_rec4 = GuiColor;

namespace detail {

template <class T>
constexpr unsigned words_of() {
    if constexpr (std::is_same_v<T, double> || std::is_same_v<T, float>)
        return 2;
    else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>)
        return sizeof(T) > 4 ? 2 : 1;
    else
        return 1;  // pointers, function pointers, null
}

template <class T>
void put(HostWord*& w, T value) {
    if constexpr (std::is_same_v<T, double> || std::is_same_v<T, float>) {
        double d = static_cast<double>(value);
        std::uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        *w++ = static_cast<HostWord>(static_cast<std::uint32_t>(bits));
        *w++ = static_cast<HostWord>(static_cast<std::uint32_t>(bits >> 32));
    } else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) {
        if constexpr (sizeof(T) > 4) {
            auto v = static_cast<std::uint64_t>(value);
            *w++ = static_cast<HostWord>(static_cast<std::uint32_t>(v));
            *w++ = static_cast<HostWord>(static_cast<std::uint32_t>(v >> 32));
        } else {
            // Zero-extend from the value's own width (a signed 32-bit value keeps its 32 bits).
            if constexpr (std::is_same_v<T, bool>) {
                *w++ = value ? 1u : 0u;
            } else {
                using U = std::make_unsigned_t<std::conditional_t<std::is_enum_v<T>, int, T>>;
                *w++ = static_cast<HostWord>(static_cast<U>(value));
            }
        }
    } else if constexpr (std::is_null_pointer_v<T>) {
        *w++ = 0;
    } else {
        *w++ = reinterpret_cast<HostWord>(value);
    }
}

template <std::size_t>
using word_t = HostWord;

template <class R, std::size_t... I>
R call(void* fn, const HostWord* w, std::index_sequence<I...>) {
    using Fn = R(KB_STDCALL*)(word_t<I>...);
    return reinterpret_cast<Fn>(fn)(w[I]...);
}

template <class R>
R missing_yield(HostFunction f) {
    if constexpr (std::is_void_v<R>)
        return;
    else if constexpr (std::is_same_v<R, double>)
        return f == HostFunction::get_unit_factor ? 1.0 : 0.0;
    else
        return R{};
}

}  // namespace detail

/// Calls the host function F with the given arguments laid out as argument words. A missing
/// function yields the zero of its result kind (1.0 for get_unit_factor) without reading anything.
template <HostFunction F, unsigned Words, unsigned Flags, class R, class... A>
R forward(A... args) {
    static_assert((detail::words_of<A>() + ... + 0u) == Words,
                  "arguments do not make the host function's argument words");
    void* fn = host_table().entry[static_cast<std::size_t>(F)];
    if (fn == nullptr) return detail::missing_yield<R>(F);
    HostWord w[Words];
    HostWord* p = w;
    (detail::put(p, args), ...);
    for (unsigned i = 0; i < Words; ++i)
        if (Flags & (1u << i)) w[i] &= 0xFFu;  // a flag travels as its low byte, zero-extended
    return detail::call<R>(fn, w, std::make_index_sequence<Words>{});
}

}  // namespace bv

/// The forwarding operations, one per host function, under the host's names: host::select(...).
namespace host {
#define HOST_FUNCTION(name, words, flags, doubles, result)                                 \
    template <class... A>                                                                 \
    inline bv::result_##result name(A... args) {                                          \
        return bv::forward<bv::HostFunction::name, words, flags, bv::result_##result>(args...); \
    }
#include "host_functions.inc"
#undef HOST_FUNCTION
}  // namespace host
