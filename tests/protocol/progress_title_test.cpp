#include "progress_title.h"
#include "texts.h"

#include <gtest/gtest.h>

namespace kvr::test {
namespace {

// Header bytes 1 to 4 hold the total (0012), bytes 5 to 8 the running number (0003).
const std::uint8_t kHeader[10] = {0x20, '0', '0', '1', '2', '0', '0', '0', '3', 8};

TEST(ProgressTitle, BothLanguagesPutTheRunningNumberFirst) {
    EXPECT_EQ(FillProgressTitle(textIn(Language::English, TextProgress), kHeader),
              "Crurent Proc No. 0003, Total 0012 Points");
    EXPECT_EQ(FillProgressTitle(textIn(Language::Chinese, TextProgress), kHeader),
              "当前处理：第0003点，共0012点");
}

TEST(ProgressTitle, FormatsAreNeverInterpretedBeyondCharacters) {
    EXPECT_EQ(FillProgressTitle("%s %d 100%% %c", kHeader), "%s %d 100% 0");
    // More than eight placeholders: the rest stay as they are.
    EXPECT_EQ(FillProgressTitle("%c%c%c%c%c%c%c%c%c", kHeader), "00030012%c");
    EXPECT_EQ(FillProgressTitle("trailing %", kHeader), "trailing %");
}

}  // namespace
}  // namespace kvr::test
