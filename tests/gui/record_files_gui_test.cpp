// Save and Load through the real common file dialogs, driven from another
// process: the path is typed into the dialog's file name box.
#include "sim_broker.h"
#include "gui_test_support.h"
#include "resource_ids.h"
#include "texts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace kvr::test {
namespace {

std::wstring AnsiToWide(const std::string& bytes) {
    int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    std::wstring wide(std::size_t(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), &wide[0], length);
    return wide;
}

class RecordFiles : public ProgramTest {
protected:
    void downloadSampleJob() {
        ASSERT_TRUE(sim.start("--dialect S"));
        app.click(IDC_RECV);
        MessageBoxSeen box;
        ASSERT_TRUE(app.waitForBox(L"Message", box, 20000));
        AppDriver::dismiss(box.window);
        ASSERT_TRUE(WaitUntil([&] { return app.enabled(IDC_SAVE); }, 5000));
    }

    bool save(const std::string& name) {
        app.click(IDC_SAVE);
        return app.chooseFile(Widen(sim.windowsPath(name)));
    }
    bool load(const std::string& name) {
        app.click(IDC_LOAD);
        return app.chooseFile(Widen(sim.windowsPath(name)));
    }

    SimBroker sim;  // also lends its folder to the files of these tests
};

TEST_F(RecordFiles, SaveWritesTheListAndLoadAppendsItBack) {
    downloadSampleJob();
    std::vector<std::string> expected = sim.expectedLines();
    ASSERT_TRUE(save("survey"));
    ASSERT_TRUE(WaitUntil([&] { return Exists(sim.windowsPath("survey.txt")); }, 5000)) << "survey gives survey.txt";
    EXPECT_EQ(FileBytes(sim.windowsPath("survey.txt")), Joined(expected));

    ASSERT_TRUE(load("survey.txt"));
    std::vector<std::wstring> twice;
    for (int round = 0; round < 2; ++round)
        for (const std::string& line : expected) twice.push_back(Widen(line));
    EXPECT_TRUE(WaitUntil([&] { return app.lines().size() == twice.size(); }, 5000));
    EXPECT_EQ(app.lines(), twice);

    // A name with a dot is used as it stands.
    ASSERT_TRUE(save("survey.dat"));
    EXPECT_TRUE(WaitUntil([&] { return Exists(sim.windowsPath("survey.dat")); }, 5000));
    EXPECT_FALSE(Exists(sim.windowsPath("survey.dat.txt")));
}

TEST_F(RecordFiles, AnEmptyListSavesAsAnEmptyFile) {
    ASSERT_TRUE(save("empty"));
    ASSERT_TRUE(WaitUntil([&] { return Exists(sim.windowsPath("empty.txt")); }, 5000));
    EXPECT_EQ(FileBytes(sim.windowsPath("empty.txt")), "");
}

// A save that cannot be written (the file beside the target cannot be
// created: a folder holds its name) is reported, and the old file stays.
TEST_F(RecordFiles, AFailedSaveIsReportedAndKeepsTheOldFile) {
    downloadSampleJob();
    const std::string old = sim.windowsPath("old.txt");
    WriteBytes(old, "the old list");
    const std::string blocker = old + "." + std::to_string(app.processId()) + ".kvr-tmp";
    ASSERT_TRUE(CreateDirectoryA(blocker.c_str(), nullptr));

    ASSERT_TRUE(save("old.txt"));
    MessageBoxSeen box;
    ASSERT_TRUE(app.waitForBox(L"Error", box, 10000)) << "the failed save was not reported";
    EXPECT_FALSE(box.text.empty());
    AppDriver::dismiss(box.window);
    EXPECT_EQ(FileBytes(old), "the old list");

    // Once the way is free, the same save replaces the old file.
    ASSERT_TRUE(RemoveDirectoryA(blocker.c_str()));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box.window); }, 5000));
    ASSERT_TRUE(save("old.txt"));
    EXPECT_TRUE(WaitUntil([&] { return FileBytes(old) == Joined(sim.expectedLines()); }, 5000));
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(sim.windowsPath("*.kvr-tmp").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "a temporary file was left behind: " << found.cFileName;
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

// A scanner that holds the old file for a moment, as one does right after
// a file changes: the replacement waits for it instead of failing.
TEST_F(RecordFiles, ASaveWaitsForAFileHeldOpenForAMoment) {
    downloadSampleJob();
    const std::string target = sim.windowsPath("held.txt");
    WriteBytes(target, "the old list");
    HANDLE held = CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(save("held.txt"));
    Sleep(400);
    CloseHandle(held);
    EXPECT_TRUE(WaitUntil([&] { return FileBytes(target) == Joined(sim.expectedLines()); }, 5000));
    Sleep(300);
    EXPECT_EQ(app.findDialog(L"Error"), nullptr) << "the held file failed the save";
}

TEST_F(RecordFiles, LoadTakesLongShortBlankAndChineseLines) {
    const std::string chinese = "MP:  \xB2\xE2\xC1\xBF\xB5\xE3";  // ends in 测量点 (GBK)
    WriteBytes(sim.windowsPath("mixed.txt"), "JOB: SITE7\r\n" + std::string(300, 'A') + "\r\nab\r\n\r\n   \r\n"
                                                 "  lead kept, tail cut \t\r\n" + chinese + "\r\nlast");
    ASSERT_TRUE(load("mixed.txt"));
    const std::vector<std::string> entries = {"JOB: SITE7", std::string(255, 'A'), std::string(45, 'A'),
                                              "  lead kept, tail cut", chinese, "last"};
    std::vector<std::wstring> expected;
    for (const std::string& entry : entries) expected.push_back(AnsiToWide(entry));
    EXPECT_TRUE(WaitUntil([&] { return app.lines().size() == expected.size(); }, 5000));
    EXPECT_EQ(app.lines(), expected);

    // And the Chinese bytes come back out unchanged.
    ASSERT_TRUE(save("again.txt"));
    ASSERT_TRUE(WaitUntil([&] { return Exists(sim.windowsPath("again.txt")); }, 5000));
    EXPECT_EQ(FileBytes(sim.windowsPath("again.txt")), Joined(entries));
}

}  // namespace
}  // namespace kvr::test
