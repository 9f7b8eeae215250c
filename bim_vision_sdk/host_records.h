// Records that cross the boundary between the plugin and the viewer.
//
// The viewer is a 32-bit process: the layouts below are the ones the host uses and are pinned by
// static_asserts in the 32-bit build. The native test build keeps the same fields (pointers are
// wider there) so that the same logic can run against a fake host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// The host calls and is called with stdcall in its 32-bit process. Compilers name 32-bit x86
// differently (__i386__ for GCC and Clang, _M_IX86 for the Microsoft-style ones) and spell the
// convention differently; either way the module build must not fall back to cdecl unnoticed.
// KB_MODULE_BUILD (set for the real module only) makes any other target a hard error; the native
// test build compiles the same logic for its own processor with plain calls.
#if defined(_WIN32) && (defined(__i386__) || defined(_M_IX86))
#if defined(__GNUC__)
#define KB_STDCALL __attribute__((stdcall))
#else
#define KB_STDCALL __stdcall
#endif
#define KB_HOST_32BIT 1
#else
#define KB_STDCALL
#define KB_HOST_32BIT 0
#endif

#if defined(KB_MODULE_BUILD)
static_assert(KB_HOST_32BIT == 1, "the module is built for 32-bit x86 Windows only");
#endif

namespace bv {

/// The host's object identifier. As an argument it takes two 32-bit words, low half first.
using ObjectId = std::uint64_t;

/// Names one property set of one object; always passed by pointer.
struct PropertyGroupKey {
    ObjectId object = 0;
    std::uint32_t set_index = 0;
    std::uint32_t unused = 0;  // the host does not read it; kept zero
};

/// One property of a property set, as the host writes it into an array the plugin provides.
/// Value type 0 means text: the first bytes of `value` are a pointer to UTF-16 text (may be null).
/// Any other value type means a number: the 8 bytes are a double.
struct alignas(8) Property {
    unsigned char host_data[8];  // the host's; never read
    const char16_t* name;        // may be null
    std::int32_t value_type;
    alignas(8) unsigned char value[8];
};

/// The text pointer held by a property's value field (meaningful for value type 0).
inline const char16_t* property_text(const Property& p) {
    const char16_t* text;
    std::memcpy(&text, p.value, sizeof text);
    return text;
}

/// The double held by a property's value field.
inline double property_number(const Property& p) {
    double number;
    std::memcpy(&number, p.value, sizeof number);
    return number;
}

/// Six doubles: minimum x, y, z, then maximum x, y, z.
struct Bounds {
    double min_x = 0, min_y = 0, min_z = 0;
    double max_x = 0, max_y = 0, max_z = 0;
};

/// The label record handed to draw_label: 8 leading bytes, then an integer and three doubles.
/// The plugin only ever hands over an all-zero one.
struct LabelRecord {
    unsigned char leading[8] = {};
    struct Inner {
        std::int64_t value = 0;
        double a = 0.0, b = 0.0, c = 0.0;
    } inner;
};

/// The four-byte record returned by value by get_gui_color.
struct GuiColor {
    unsigned char bytes[4];
};

/// A plugin function the host calls on an event (button click, selection change, draw, model load).
using Handler = void (*)();

static_assert(sizeof(PropertyGroupKey) == 16, "PropertyGroupKey is 16 bytes");
static_assert(offsetof(PropertyGroupKey, set_index) == 8, "set index at 8");
static_assert(sizeof(Bounds) == 48, "bounds record is six doubles");
static_assert(offsetof(Bounds, max_x) == 24, "maxima follow the minima");
static_assert(sizeof(LabelRecord) == 40, "label record is 40 bytes");
static_assert(offsetof(LabelRecord, inner) == 8, "inner block at 8");
static_assert(sizeof(GuiColor) == 4, "gui colour is four bytes");
#if KB_HOST_32BIT
static_assert(sizeof(void*) == 4, "the viewer is a 32-bit process");
static_assert(sizeof(Property) == 24, "viewer::Property is 24 bytes");
static_assert(offsetof(Property, name) == 8, "property name at 8");
static_assert(offsetof(Property, value_type) == 12, "value type at 12");
static_assert(offsetof(Property, value) == 16, "value at 16");
static_assert(sizeof(Handler) == 4, "a handler is one word");
#endif

}  // namespace bv

namespace viewer {
using Property = bv::Property;
}
