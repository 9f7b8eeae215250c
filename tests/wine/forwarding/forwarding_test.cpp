// The forwarding operations against host functions that this executable exports itself, found
// with the real GetProcAddress and called with the real stdcall convention: the words the host
// receives, the results it gives back and the stack after each call.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "host_table.h"
#include "stdcall_call.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

using u32 = std::uint32_t;
std::vector<u32> received;

const char16_t property_name[] = u"Guid";
const char16_t property_value[] = u"2O2Fr$t4X7Zf8NOew3FLOH";

}  // namespace

// The fake host's functions, exported under their plain names by forwarding_exports.def.
extern "C" {
void __stdcall select(u32 a, u32 b, u32 c, u32 d) { received = {a, b, c, d}; }
void __stdcall set_object_active(u32 a, u32 b, u32 c, u32 d, u32 e) {
    received = {a, b, c, d, e};
}
void __stdcall use_selection_color(u32 a, u32 b) { received = {a, b}; }
void __stdcall set_button_state(u32 a, u32 b, u32 c, u32 d) { received = {a, b, c, d}; }
std::uint64_t __stdcall get_selected_id(u32 a) {
    received = {a};
    return 0xFEDCBA9876543210ull;
}
double __stdcall get_volume(u32 a, u32 b, u32 c) {
    received = {a, b, c};
    return 0.1 + 0.2;
}
bv::GuiColor __stdcall get_gui_color(u32 a, u32 b) {
    received = {a, b};
    return {{0x11, 0x22, 0x33, 0x44}};
}
void __stdcall set_item_value(u32 a, u32 b, u32 c, u32 d) { received = {a, b, c, d}; }
// Writes by the host's byte layout, not through the plugin's declaration of the record.
u32 __stdcall get_properties(u32 a, const void* key, unsigned char* records, u32 capacity) {
    received = {a, static_cast<u32>(reinterpret_cast<std::uintptr_t>(key)),
                static_cast<u32>(reinterpret_cast<std::uintptr_t>(records)), capacity};
    if (records != nullptr && capacity >= 2) {
        std::memset(records, 0xAB, 48);
        const char16_t* name = property_name;
        const char16_t* value = property_value;
        std::int32_t text = 0, number = 3;
        double area = 12.5;
        std::memcpy(records + 8, &name, 4);
        std::memcpy(records + 12, &text, 4);
        std::memcpy(records + 16, &value, 4);
        std::memcpy(records + 24 + 8, &name, 4);
        std::memcpy(records + 24 + 12, &number, 4);
        std::memcpy(records + 24 + 16, &area, 8);
    }
    return 2;
}
}  // extern "C"

namespace {

void* resolve_in_executable(void* executable, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(executable), name));
}

class Forwarding : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        bv::bind_host_functions(bv::host_table(), resolve_in_executable, GetModuleHandleW(nullptr));
    }
    void SetUp() override { received.clear(); }
};

// Brackets a forwarded call with stack-pointer reads: a word-count mismatch with the host's
// function leaves the stack pointer moved.
#define EXPECT_STACK_KEPT(call)     \
    do {                            \
        std::uintptr_t before_, after_; \
        KB_READ_ESP(before_);       \
        call;                       \
        KB_READ_ESP(after_);        \
        EXPECT_EQ(before_, after_); \
    } while (0)

TEST_F(Forwarding, BindingFindsExactlyTheExportedNames) {
    const auto& table = bv::host_table();
    auto entry = [&](bv::HostFunction f) { return table.entry[static_cast<std::size_t>(f)]; };
    EXPECT_EQ(entry(bv::HostFunction::select),
              reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), "select")));
    EXPECT_NE(entry(bv::HostFunction::get_properties), nullptr);
    EXPECT_EQ(entry(bv::HostFunction::get_unit_factor), nullptr);
    EXPECT_EQ(entry(bv::HostFunction::create_button), nullptr);
    int bound = 0;
    for (void* e : table.entry) bound += e != nullptr;
    EXPECT_EQ(bound, 9);
}

TEST_F(Forwarding, ObjectIdTravelsLowHalfFirstAndFlagsAsTheirLowByte) {
    const bv::ObjectId object = 0x1122334455667788ull;
    EXPECT_STACK_KEPT(host::select(7u, object, true));
    EXPECT_EQ(received, (std::vector<u32>{7, 0x55667788, 0x11223344, 1}));
    for (u32 flag : {0x00u, 0x01u, 0x7Fu, 0x80u, 0xFFu, 0x1234ABCDu}) {
        EXPECT_STACK_KEPT(host::select(7u, object, flag));
        EXPECT_EQ(received, (std::vector<u32>{7, 0x55667788, 0x11223344, flag & 0xFF})) << flag;
    }
    EXPECT_STACK_KEPT(host::set_object_active(9u, object, 0x1FFu, false));
    EXPECT_EQ(received, (std::vector<u32>{9, 0x55667788, 0x11223344, 0xFF, 0}));
    EXPECT_STACK_KEPT(host::use_selection_color(3u, 0xFFFFFF01u));
    EXPECT_EQ(received, (std::vector<u32>{3, 1}));
    EXPECT_STACK_KEPT(host::set_button_state(3u, 0xAAu, 0x100u, 0x2FFu));
    EXPECT_EQ(received, (std::vector<u32>{3, 0xAA, 0, 0xFF}));
}

TEST_F(Forwarding, ResultsComeBackWholeAtFullPrecisionAndByValue) {
    std::uint64_t id = 0;
    EXPECT_STACK_KEPT(id = host::get_selected_id(5u));
    EXPECT_EQ(id, 0xFEDCBA9876543210ull);
    EXPECT_EQ(received, std::vector<u32>{5});

    double volume = 0;
    EXPECT_STACK_KEPT(volume = host::get_volume(5u, bv::ObjectId{0x0000000A0000000Bull}));
    EXPECT_EQ(volume, 0.1 + 0.2);  // the same bits, not a rounded copy
    EXPECT_EQ(received, (std::vector<u32>{5, 0xB, 0xA}));

    bv::GuiColor color{};
    EXPECT_STACK_KEPT(color = host::get_gui_color(5u, 2u));
    EXPECT_EQ(std::vector<int>(color.bytes, color.bytes + 4),
              (std::vector<int>{0x11, 0x22, 0x33, 0x44}));
}

TEST_F(Forwarding, DoubleArgumentTakesTwoWordsLowHalfFirst) {
    const double value = -1234.0625;
    std::uint64_t bits;
    std::memcpy(&bits, &value, 8);
    EXPECT_STACK_KEPT(host::set_item_value(4u, 6u, value));
    EXPECT_EQ(received, (std::vector<u32>{4, 6, static_cast<u32>(bits), static_cast<u32>(bits >> 32)}));
}

TEST_F(Forwarding, PropertyRecordsWrittenByTheHostReadBackThroughTheDeclaredLayout) {
    bv::PropertyGroupKey key{0x42, 1, 0};
    u32 count = 0;
    EXPECT_STACK_KEPT(count = static_cast<u32>(host::get_properties(1u, &key, nullptr, 0u)));
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(received[2], 0u);
    std::vector<bv::Property> props(count);
    host::get_properties(1u, &key, props.data(), count);
    EXPECT_EQ(received[1], static_cast<u32>(reinterpret_cast<std::uintptr_t>(&key)));
    EXPECT_EQ(props[0].name, property_name);
    EXPECT_EQ(props[0].value_type, 0);
    EXPECT_EQ(bv::property_text(props[0]), property_value);
    EXPECT_EQ(props[1].value_type, 3);
    EXPECT_EQ(bv::property_number(props[1]), 12.5);
}

TEST_F(Forwarding, MissingFunctionsYieldTheirZeroWithoutCallingAnything) {
    EXPECT_EQ(host::get_unit_factor(1u), 1.0);
    EXPECT_EQ(host::get_total_area(1u, bv::ObjectId{3}), 0.0);
    EXPECT_EQ(host::create_button(1u, 0u, nullptr), 0u);
    bv::Bounds b{};
    EXPECT_EQ(host::get_bounds(1u, bv::ObjectId{3}, &b), 0);
    EXPECT_EQ(b.max_z, 0.0);
    EXPECT_TRUE(received.empty());
}

TEST_F(Forwarding, SecondBindingKeepsEveryEntry) {
    const bv::HostFunctionTable before = bv::host_table();
    bv::bind_host_functions(bv::host_table(), [](void*, const char*) -> void* { return &received; },
                            nullptr);
    EXPECT_EQ(std::memcmp(before.entry, bv::host_table().entry, sizeof before.entry), 0);
}

}  // namespace
