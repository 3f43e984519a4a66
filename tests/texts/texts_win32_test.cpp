// The Windows string tables, read through text() as the program does. Run
// under Wine once with LANG=en_US.UTF-8 and once with LANG=zh_CN.UTF-8;
// KVR_EXPECT_LANGUAGE names the language that the resources must pick.
#include "texts.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace kvr::test {
namespace {

Language expectedLanguage() {
    const char* expected = std::getenv("KVR_EXPECT_LANGUAGE");
    return expected && std::strcmp(expected, "zh") == 0 ? Language::Chinese : Language::English;
}

TEST(WindowsTexts, StringTablesHoldTheTableInTheUsersLanguage) {
    Language language = expectedLanguage();
    for (int id : textIds()) EXPECT_EQ(text(id), textIn(language, id)) << "text " << id;
    EXPECT_EQ(text(9), "");
}

// UTF-8 whatever the code page: 936 with LANG=zh_CN, 1252 with the Chinese
// interface on a Western system (LC_MESSAGES=zh_CN, LC_CTYPE en_US).
TEST(WindowsTexts, TextsAreUtf8OnAnyCodePage) {
    if (const char* codePage = std::getenv("KVR_EXPECT_CODE_PAGE")) {
        EXPECT_EQ(GetACP(), UINT(std::atoi(codePage)));
    }
    if (expectedLanguage() == Language::Chinese) {
        EXPECT_EQ(text(TextCancelCaption), "\xE5\x8F\x96\xE6\xB6\x88");  // 取消
    } else {
        EXPECT_EQ(text(TextCancelled), "Cancel Communication ");
    }
}

}  // namespace
}  // namespace kvr::test
