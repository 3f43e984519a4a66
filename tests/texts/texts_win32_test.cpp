// The Windows string tables, read through text() as the program does. Run
// under Wine once with LANG=en_US.UTF-8 and once with LANG=zh_CN.UTF-8;
// KVR_EXPECT_LANGUAGE names the language that the resources must pick.
#include "texts.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace kvr::test {
namespace {

std::string utf8ToAnsi(const char* utf8) {
    int wideLength = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring wide(std::size_t(wideLength), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &wide[0], wideLength);
    int length = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(std::size_t(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &narrow[0], length, nullptr, nullptr);
    narrow.resize(std::strlen(narrow.c_str()));
    return narrow;
}

Language expectedLanguage() {
    const char* expected = std::getenv("KVR_EXPECT_LANGUAGE");
    return expected && std::strcmp(expected, "zh") == 0 ? Language::Chinese : Language::English;
}

TEST(WindowsTexts, StringTablesHoldTheTableInTheUsersLanguage) {
    Language language = expectedLanguage();
    for (int id : textIds()) EXPECT_EQ(text(id), utf8ToAnsi(textIn(language, id))) << "text " << id;
    EXPECT_EQ(text(9), "");
}

TEST(WindowsTexts, ChineseComesInCodePage936) {
    if (expectedLanguage() == Language::Chinese) {
        EXPECT_EQ(GetACP(), 936u);
        EXPECT_EQ(text(TextCancelCaption), "\xC8\xA1\xCF\xFB");  // 取消 in GBK
    } else {
        EXPECT_EQ(text(TextCancelled), "Cancel Communication ");
    }
}

}  // namespace
}  // namespace kvr::test
