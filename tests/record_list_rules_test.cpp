// The record list file rules, in both builds.
#include "record_list_rules.h"

#include <gtest/gtest.h>

namespace kvr::test {
namespace {

TEST(RecordListRules, SavedNames) {
    struct Row { const char* chosen; std::size_t offset; const char* saved; };
    const Row rows[] = {
        {"C:\\jobs\\survey", 8, "C:\\jobs\\survey.txt"},
        {"C:\\jobs\\survey.dat", 8, "C:\\jobs\\survey.dat"},
        {"C:\\jobs\\a.b.c", 8, "C:\\jobs\\a.b.c"},
        {"C:\\v1.2\\survey", 8, "C:\\v1.2\\survey.txt"},  // a dot in a folder name does not count
        {"survey.", 0, "survey."},
    };
    for (const Row& row : rows) {
        std::string name;
        EXPECT_TRUE(SaveFileName(row.chosen, row.offset, 1023, name));
        EXPECT_EQ(name, row.saved);
    }
    std::string name;
    std::string longPath = "C:\\" + std::string(1018, 'x');  // 1021 characters, no dot
    EXPECT_FALSE(SaveFileName(longPath, 3, 1023, name)) << "1025 characters with .txt";
    EXPECT_TRUE(SaveFileName(longPath.substr(0, 1019), 3, 1023, name));
    EXPECT_EQ(name.size(), 1023u);
}

TEST(RecordListRules, LoadedTextBecomesEntries) {
    const std::string chinese = "\xB2\xE2\xC1\xBF\xB5\xE3";  // 测量点 in GBK
    struct Row { const char* name; std::string text; std::vector<std::string> entries; };
    const Row rows[] = {
        {"lines with and without a last line end", "JOB: A1\nSTN: B\nBK:  C", {"JOB: A1", "STN: B", "BK:  C"}},
        {"a last line end does not add an entry", "JOB: A1\n", {"JOB: A1"}},
        {"300 characters become 255 and 45", std::string(300, 'A') + "\n",
         {std::string(255, 'A'), std::string(45, 'A')}},
        {"255 characters and the line end", std::string(255, 'B') + "\nxyz", {std::string(255, 'B'), "xyz"}},
        {"trailing spaces, tabs and CR go, leading spaces stay", "  P1, x \t\r\n", {"  P1, x"}},
        {"one or two characters, blank and space-only lines are skipped", "a\nab\n\n   \n\t\nabc\n", {"abc"}},
        {"a trailing Chinese character survives", "MP:  " + chinese + "\n", {"MP:  " + chinese}},
        {"control characters at the end go", std::string("abc\x01\x7F\n"), {"abc"}},
        {"empty file", "", {}},
        {"a line ends at its first NUL", std::string("a\0bc\nxyz\0\0w\n\0\0\0x", 16), {"xyz"}},
        {"a NUL after the limit's piece starts anew", std::string(300, 'C').replace(10, 1, 1, '\0'),
         {std::string(10, 'C'), std::string(45, 'C')}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(RecordLinesFromText(row.text), row.entries);
    }
}

TEST(RecordListRules, TextModeAndFileBytes) {
    EXPECT_EQ(TextModeRead("a\r\nb\rc\r\n\r\n"), "a\nb\rc\n\n");
    EXPECT_EQ(RecordListFileBytes({}), "");
    EXPECT_EQ(RecordListFileBytes({"one"}), "one");
    EXPECT_EQ(RecordListFileBytes({"one", "two", "three"}), "one\r\ntwo\r\nthree");
    // A saved list loads back as exactly its entries.
    std::vector<std::string> entries = {"JOB: SITE7", "STN: ST01,CTRL,1.562,3.000,2.000,125.430", "  lead"};
    EXPECT_EQ(RecordLinesFromText(TextModeRead(RecordListFileBytes(entries))), entries);
}

// A journal gives back every received line byte for byte: no trimming, no
// 255 cut, no 2-character rule, and a lone CR or LF stays inside its entry.
TEST(RecordListRules, JournalEntriesAreTheReceivedBytes) {
    const std::string padded = "JOB: A1  ", gbk = "MP:  \xB2\xE2 \t", longLine(300, 'x');
    struct Row { const char* name; std::string bytes; std::vector<std::string> entries; };
    const Row rows[] = {
        {"entries as written", RecordListFileBytes({padded, gbk, longLine, "ab"}), {padded, gbk, longLine, "ab"}},
        {"a lone CR or LF is part of the entry", "a\nb\r\nc\rd", {"a\nb", "c\rd"}},
        {"cut short after a separator", "one\r\n", {"one"}},
        {"empty journal", "", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(JournalEntries(row.bytes), row.entries);
    }
}

}  // namespace
}  // namespace kvr::test
