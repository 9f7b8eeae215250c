// The entry points that answer fixed values, called as the host calls them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "shell/entry_points.h"

namespace {

TEST(EntryPoints, ApiVersionIsWrittenWhateverTheFirstArgumentAndTheSecondIsReturned) {
    for (std::uintptr_t first : {std::uintptr_t{0}, std::uintptr_t{1}, ~std::uintptr_t{0}}) {
        std::int32_t pair[2] = {-1, -1};
        EXPECT_EQ(get_api_verion(first, pair), pair);
        EXPECT_EQ(pair[0], 5);
        EXPECT_EQ(pair[1], 38);
    }
}

TEST(EntryPoints, PluginInfoFillsTheSameFiveTextsOnEveryCall) {
    const char16_t* first[5] = {};
    const char16_t* second[5] = {};
    EXPECT_EQ(get_plugin_info(first), first);
    EXPECT_EQ(get_plugin_info(second), second);
    EXPECT_EQ(std::u16string(first[0]), u"kestro_bimvision");
    EXPECT_EQ(std::u16string(first[4]), u"Conexion con KESTRO");
    for (int i = 0; i < 5; ++i) {
        ASSERT_NE(first[i], nullptr);
        EXPECT_EQ(first[i], second[i]);
    }
}

TEST(EntryPoints, FixedAnswers) {
    for (std::uintptr_t effect : {std::uintptr_t{0}, std::uintptr_t{1}, std::uintptr_t{0xDEADBEEF}})
        EXPECT_EQ(on_drag_over(7, 8, effect), effect);
    EXPECT_EQ(on_drop(1, 2, 3, 4), 0);
    EXPECT_FALSE(on_model_load_v2(123));
    on_gui_colors_change();
    on_model_save_v2();
}

}  // namespace
