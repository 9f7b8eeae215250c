// The host function table against a fake executable that exports a subset of the names.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "host_table.h"

namespace {

using bv::HostWord;

std::vector<HostWord> received;  // the argument words of the last fake call
int resolves = 0;

HostWord KB_STDCALL fake_get_selected(HostWord a, HostWord b, HostWord c) {
    received = {a, b, c};
    return 7;
}
void KB_STDCALL fake_select(HostWord a, HostWord b, HostWord c, HostWord d) {
    received = {a, b, c, d};
}
void KB_STDCALL fake_set_object_active(HostWord a, HostWord b, HostWord c, HostWord d, HostWord e) {
    received = {a, b, c, d, e};
}
std::uint64_t KB_STDCALL fake_get_selected_id(HostWord a) {
    received = {a};
    return 0x1122334455667788ull;
}
double KB_STDCALL fake_get_volume(HostWord a, HostWord b, HostWord c) {
    received = {a, b, c};
    return 0.1 + 0.2;
}
std::uint8_t KB_STDCALL fake_is_selected(HostWord, HostWord, HostWord) { return 1; }
bv::GuiColor KB_STDCALL fake_get_gui_color(HostWord, HostWord) { return {{1, 2, 3, 4}}; }
void KB_STDCALL fake_set_item_value(HostWord a, HostWord b, HostWord c, HostWord d) {
    received = {a, b, c, d};
}

struct FakeExecutable {
    std::map<std::string, void*> exports;
};

void* resolve(void* context, const char* name) {
    ++resolves;
    auto& exe = *static_cast<FakeExecutable*>(context);
    auto it = exe.exports.find(name);
    return it == exe.exports.end() ? nullptr : it->second;
}

class HostTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = bv::host_table();
        bv::host_table() = bv::HostFunctionTable{};
        received.clear();
        resolves = 0;
    }
    void TearDown() override { bv::host_table() = saved_; }
    void bind(FakeExecutable& exe) { bv::bind_host_functions(bv::host_table(), resolve, &exe); }

    bv::HostFunctionTable saved_;
};

std::vector<HostWord> words(std::initializer_list<std::uint32_t> w) {
    return std::vector<HostWord>(w.begin(), w.end());
}


TEST(HostFunctionList, NamesAreUniqueAndLookedUpAsWritten) {
    std::map<std::string, int> seen;
    for (const char* name : bv::host_function_names) ++seen[name];
    EXPECT_EQ(seen.size(), 266u);
    EXPECT_STREQ(bv::host_function_names[static_cast<int>(bv::HostFunction::get_selected_id)],
                 "get_selected_id");
    EXPECT_EQ(seen.count("send_plugin_massage"), 1u);  // the host's own spelling
    EXPECT_EQ(bv::host_function_words[static_cast<int>(bv::HostFunction::set_object_active)], 5);
}

TEST_F(HostTableTest, HostWithoutAnyNameYieldsTheZeroOfEveryKind) {
    FakeExecutable none;
    bind(none);
    EXPECT_EQ(host::get_selected(1u, nullptr, 0u), 0u);
    EXPECT_EQ(host::get_selected_id(1u), 0u);
    EXPECT_EQ(host::get_volume(1u, bv::ObjectId{5}), 0.0);
    EXPECT_EQ(host::get_unit_factor(1u), 1.0);
    EXPECT_EQ(host::is_selected(1u, bv::ObjectId{5}), 0);
    EXPECT_EQ(host::create_button(1u, 0u, static_cast<bv::Handler>(nullptr)), 0u);
    bv::GuiColor c = host::get_gui_color(1u, 3u);
    EXPECT_EQ(std::memcmp(c.bytes, "\0\0\0\0", 4), 0);
    host::select(1u, bv::ObjectId{5}, true);  // nothing to call, nothing happens
    EXPECT_TRUE(received.empty());
}

TEST_F(HostTableTest, BindsOnceAndKeepsTheFirstAddresses) {
    FakeExecutable first{{{"get_selected", reinterpret_cast<void*>(&fake_get_selected)}}};
    bind(first);
    EXPECT_EQ(resolves, 266);
    EXPECT_EQ(bv::host_table().bound, 1);
    FakeExecutable second;  // exports nothing
    bind(second);
    EXPECT_EQ(resolves, 266);  // nothing looked up again
    EXPECT_EQ(host::get_selected(9u, nullptr, 0u), 7u);
}

TEST_F(HostTableTest, ArgumentWordsReachTheHostInOrder) {
    FakeExecutable exe{{
        {"get_selected", reinterpret_cast<void*>(&fake_get_selected)},
        {"select", reinterpret_cast<void*>(&fake_select)},
        {"set_object_active", reinterpret_cast<void*>(&fake_set_object_active)},
        {"get_selected_id", reinterpret_cast<void*>(&fake_get_selected_id)},
        {"get_volume", reinterpret_cast<void*>(&fake_get_volume)},
        {"is_selected", reinterpret_cast<void*>(&fake_is_selected)},
        {"get_gui_color", reinterpret_cast<void*>(&fake_get_gui_color)},
        {"set_item_value", reinterpret_cast<void*>(&fake_set_item_value)},
    }};
    bind(exe);

    // ObjectId: low half first, then the high half; flag: its low byte, zero-extended.
    host::select(42u, bv::ObjectId{0xAABBCCDD00112233ull}, std::uint8_t{0xFE});
    EXPECT_EQ(received, words({42, 0x00112233u, 0xAABBCCDDu, 0xFE}));
    host::select(42u, bv::ObjectId{1}, 0x12345601u);  // only the low byte of a flag counts
    EXPECT_EQ(received, words({42, 1, 0, 0x01}));
    host::set_object_active(3u, bv::ObjectId{0x100000002ull}, true, false);
    EXPECT_EQ(received, words({3, 2, 1, 1, 0}));

    int buffer[4];
    EXPECT_EQ(host::get_selected(5u, buffer, 4u), 7u);
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[1], reinterpret_cast<HostWord>(buffer));

    // Results come back whole.
    EXPECT_EQ(host::get_selected_id(8u), 0x1122334455667788ull);
    EXPECT_EQ(received, words({8}));
    EXPECT_EQ(host::get_volume(8u, bv::ObjectId{9}), 0.1 + 0.2);
    EXPECT_EQ(host::is_selected(8u, bv::ObjectId{9}), 1);
    bv::GuiColor c = host::get_gui_color(8u, 0u);
    EXPECT_EQ(std::memcmp(c.bytes, "\1\2\3\4", 4), 0);

    // A double argument takes two words, low half first.
    host::set_item_value(1u, 2u, 1.5);
    std::uint64_t bits;
    double d = 1.5;
    std::memcpy(&bits, &d, 8);
    EXPECT_EQ(received, words({1, 2, static_cast<std::uint32_t>(bits),
                               static_cast<std::uint32_t>(bits >> 32)}));
}

}  // namespace
