#include "texts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace kvr::test {
namespace {

TEST(Texts, LanguageFromTheFirstLocaleVariableSet) {
    struct Row { const char* lcAll; const char* lcMessages; const char* lang; Language expected; };
    const Row rows[] = {
        {nullptr, nullptr, "zh_CN.UTF-8", Language::Chinese},
        {nullptr, nullptr, "zh_CN", Language::Chinese},
        {nullptr, nullptr, "en_US.UTF-8", Language::English},
        {nullptr, nullptr, "zh_TW.UTF-8", Language::English},
        {nullptr, nullptr, "de_DE.UTF-8", Language::English},
        {nullptr, nullptr, nullptr, Language::English},
        {"C", nullptr, "zh_CN.UTF-8", Language::English},
        {"zh_CN.GB2312", nullptr, "en_US.UTF-8", Language::Chinese},
        {nullptr, "zh_CN.UTF-8", "en_US.UTF-8", Language::Chinese},
        {"", "", "zh_CN.UTF-8", Language::Chinese},  // empty counts as not set
    };
    for (const Row& row : rows) {
        EXPECT_EQ(languageFromLocale(row.lcAll, row.lcMessages, row.lang), row.expected)
            << (row.lcAll ? row.lcAll : "-") << " " << (row.lcMessages ? row.lcMessages : "-") << " "
            << (row.lang ? row.lang : "-");
    }
}

TEST(Texts, TableHoldsBothLanguages) {
    EXPECT_STREQ(textIn(Language::English, TextCancelled), "Cancel Communication ");
    EXPECT_STREQ(textIn(Language::Chinese, TextCancelled), "取消通讯");
    EXPECT_STREQ(textIn(Language::English, TextInstrumentError), "The instrument reported an error");
    EXPECT_STREQ(textIn(Language::Chinese, TextInstrumentError), "仪器报告错误");
    EXPECT_STREQ(textIn(Language::English, TextBadRecordType), "Unknown record type in frame header");
    EXPECT_STREQ(textIn(Language::Chinese, TextBadRecordType), "数据帧记录类型错误");
    EXPECT_STREQ(textIn(Language::English, 9), "");
}

TEST(Texts, ProgressFormatHasEightCharacterPlaceholdersAndNothingElse) {
    for (Language language : {Language::English, Language::Chinese}) {
        std::string format = textIn(language, TextProgress);
        int placeholders = 0, percents = 0;
        for (std::size_t i = 0; i < format.size(); ++i) {
            if (format[i] != '%') continue;
            ++percents;
            if (i + 1 < format.size() && format[i + 1] == 'c') ++placeholders;
        }
        EXPECT_EQ(placeholders, 8);
        EXPECT_EQ(percents, 8);
    }
}

TEST(Texts, TextFollowsTheEnvironment) {
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    setenv("LANG", "zh_CN.UTF-8", 1);
    EXPECT_EQ(text(TextCancelCaption), "取消");
    setenv("LANG", "en_US.UTF-8", 1);
    EXPECT_EQ(text(TextCancelCaption), "Cancel");
    setenv("LC_ALL", "zh_CN.UTF-8", 1);
    EXPECT_EQ(text(TextIdleTitle), "KVR620 & KVR680 读取测量数据(ENZ)");
    unsetenv("LC_ALL");
}

}  // namespace
}  // namespace kvr::test
