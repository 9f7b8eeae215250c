// The viewer's log of a WM_COPYDATA that reaches its own main window.
#include <gtest/gtest.h>

#include <string>

#include "copydata_log.h"

namespace bvs {
namespace {

std::string line(std::uint64_t count, std::uint64_t sender, const CopyDataMessage* message) {
    return copydata_event(count, sender, message).dump();
}

TEST(CopyDataLog, TheTextEndsAtTheFirstNulWithinTheMessageAndIsReadAsLatin1) {
    const char guid[] = "2O2Fr$t4X7Zf8NOew3FLOH\0tail";
    CopyDataMessage m{0, sizeof guid, guid};
    EXPECT_EQ(line(3, 0x10024, &m),
              R"({"cbData":28,"count":3,"dwData":0,"event":"copydata","result":19266,)"
              R"("sender":65572,"text":"2O2Fr$t4X7Zf8NOew3FLOH"})");

    const char bytes[] = {'M', 'u', '\xF1', 'o', 'X'};  // no NUL: cbData ends the text
    CopyDataMessage latin1{7, 4, bytes};
    const nlohmann::json e = copydata_event(1, 0, &latin1);
    EXPECT_EQ(e["text"].get<std::string>(), "Mu\xC3\xB1o");
    EXPECT_EQ(e["dwData"].get<std::uint64_t>(), 7u);
}

TEST(CopyDataLog, LongTextsAreCutAndMissingPartsAreNull) {
    const std::string long_text(copydata_text_limit + 1, 'g');
    CopyDataMessage m{0, static_cast<std::uint32_t>(long_text.size() + 1), long_text.c_str()};
    const auto cut = copydata_event(1, 0, &m);
    EXPECT_EQ(cut["text"], std::string(copydata_text_limit, 'g'));
    EXPECT_EQ(cut["truncated"], true);
    m.size = copydata_text_limit;  // the first 4096 bytes, no NUL among them: whole
    EXPECT_FALSE(copydata_event(1, 0, &m).contains("truncated"));

    CopyDataMessage no_data{0, 12, nullptr};
    EXPECT_EQ(line(2, 5, &no_data),
              R"({"cbData":12,"count":2,"dwData":0,"event":"copydata","result":19266,)"
              R"("sender":5,"text":null})");
    EXPECT_EQ(line(4, 5, nullptr),
              R"({"cbData":null,"count":4,"dwData":null,"event":"copydata","result":19266,)"
              R"("sender":5,"text":null})");
}

}  // namespace
}  // namespace bvs
