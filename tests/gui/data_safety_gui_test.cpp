// What protects the user's list: the question on Close, the recovery
// journal, and saves that keep every byte. The real KvrReader.exe under
// Wine, worked through its own boxes and keys.
#include "sim_broker.h"
#include "gui_test_support.h"
#include "resource_ids.h"

#include <gtest/gtest.h>

#include <memory>

namespace kvr::test {
namespace {

const DWORD kBoxTimeout = 20000;

std::wstring RestorePrompt(std::size_t lines) {
    std::wstring prompt = Text(TextRestorePrompt);
    prompt.replace(prompt.find(L"%d"), 2, std::to_wstring(lines));
    return prompt;
}

class DataSafety : public ::testing::Test {
protected:
    void SetUp() override {
        ClearRecoveryFolder();
        ASSERT_TRUE(launch());
    }
    void TearDown() override {
        app.reset();
        ClearRecoveryFolder();
    }

    bool launch() {
        app = std::make_unique<AppDriver>();
        return app->launch(ReaderPath());
    }

    void download(const std::string& simArguments) {
        ASSERT_TRUE(sim.start(simArguments));
        app->click(IDC_RECV);
        MessageBoxSeen box;
        ASSERT_TRUE(app->waitForBox(L"Message", box, kBoxTimeout));
        EXPECT_EQ(box.text, Text(TextReceiveFinished));
        AppDriver::dismiss(box.window);
        ASSERT_TRUE(WaitUntil([&] { return app->enabled(IDC_SAVE); }, 5000));
    }

    // Starts a transfer that stops after frames acknowledged frames: the
    // simulator only sends the next half frame once it has the last
    // acknowledgement.
    void receiveAndStall(int frames) {
        ASSERT_TRUE(sim.start("--stall-after " + std::to_string(frames) + " --timeout 60"));
        app->click(IDC_RECV);
        ASSERT_TRUE(sim.waitForLog("stalled in frame " + std::to_string(frames + 1), kBoxTimeout));
    }

    void expectCloseQuestion(MessageBoxSeen& box) {
        ASSERT_TRUE(app->waitForBox(L"Warning", box, kBoxTimeout)) << "Close did not ask";
        EXPECT_EQ(box.text, Text(TextUnsavedOnClose));
    }

    void expectExit() {
        DWORD exitCode = 99;
        ASSERT_TRUE(app->waitForExit(10000, exitCode)) << "the program did not end";
        EXPECT_EQ(exitCode, 0u);
    }

    std::unique_ptr<AppDriver> app;
    SimBroker sim;
};

TEST_F(DataSafety, CloseWithUnsavedLinesAsksCancelKeepsNoEnds) {
    download("--dialect S");
    const std::vector<std::wstring> received = app->lines();
    ASSERT_EQ(received.size(), 39u);
    ASSERT_EQ(RecoveryJournalFiles().size(), 1u) << "the received lines have no journal";

    app->click(IDC_CLOSE);
    MessageBoxSeen box;
    expectCloseQuestion(box);
    ASSERT_TRUE(AppDriver::press(box.window, IDCANCEL));
    Sleep(500);
    ASSERT_TRUE(app->running());
    EXPECT_EQ(app->lines(), received);
    EXPECT_EQ(RecoveryJournalFiles().size(), 1u);

    // Alt+F4 asks the same; No ends without saving and gives up the journal.
    TypeKeys({VK_MENU, VK_F4});
    expectCloseQuestion(box);
    ASSERT_TRUE(AppDriver::press(box.window, IDNO));
    expectExit();
    EXPECT_TRUE(RecoveryJournalFiles().empty());
}

TEST_F(DataSafety, CloseYesSavesThroughTheDialogThenEnds) {
    download("--dialect J");
    app->click(IDC_CLOSE);
    MessageBoxSeen box;
    expectCloseQuestion(box);
    ASSERT_TRUE(AppDriver::press(box.window, IDYES));
    ASSERT_TRUE(app->chooseFile(Widen(sim.windowsPath("on-close.txt"))));
    expectExit();
    EXPECT_EQ(FileBytes(sim.windowsPath("on-close.txt")), Joined(sim.expectedLines()));
    EXPECT_TRUE(RecoveryJournalFiles().empty()) << "a saved list keeps no journal";
}

TEST_F(DataSafety, AfterASuccessfulSaveCloseAsksNothing) {
    download("--dialect S");
    app->click(IDC_SAVE);
    ASSERT_TRUE(app->chooseFile(Widen(sim.windowsPath("saved.txt"))));
    ASSERT_TRUE(WaitUntil([&] { return FileBytes(sim.windowsPath("saved.txt")) == Joined(sim.expectedLines()); }, 5000));
    EXPECT_TRUE(RecoveryJournalFiles().empty());
    app->click(IDC_CLOSE);
    expectExit();
}

// kill -9 in mid-transfer, after three acknowledged frames: every
// acknowledged line was on disk, and the next start offers exactly those.
TEST_F(DataSafety, AKilledRunsAcknowledgedLinesAreOfferedAtTheNextStart) {
    receiveAndStall(3);
    std::vector<std::string> expected = sim.expectedLines();
    expected.resize(3);
    ASSERT_TRUE(sim.killReaders());
    ASSERT_TRUE(WaitUntil([&] { return !app->running(); }, 10000)) << "kill -9 did not end the program";

    ASSERT_TRUE(launch());
    MessageBoxSeen box;
    ASSERT_TRUE(app->waitForBox(L"Message", box, kBoxTimeout)) << "the left lines were not offered";
    EXPECT_EQ(box.text, RestorePrompt(3));
    ASSERT_TRUE(AppDriver::press(box.window, IDYES));
    ASSERT_TRUE(WaitUntil([&] { return app->lines().size() == 3; }, 5000));
    EXPECT_EQ(app->lines(), Wide(expected));
    // The restored lines are this run's now, and as safe as received ones.
    std::vector<std::wstring> journals = RecoveryJournalFiles();
    ASSERT_EQ(journals.size(), 1u);
    EXPECT_EQ(FileBytes(journals[0]), Joined(expected));

    // Killed again, then No: the journal goes, and the next start asks nothing.
    ASSERT_TRUE(sim.killReaders());
    ASSERT_TRUE(WaitUntil([&] { return !app->running(); }, 10000));
    ASSERT_TRUE(launch());
    ASSERT_TRUE(app->waitForBox(L"Message", box, kBoxTimeout));
    EXPECT_EQ(box.text, RestorePrompt(3));
    ASSERT_TRUE(AppDriver::press(box.window, IDNO));
    EXPECT_TRUE(app->lines().empty());
    EXPECT_TRUE(RecoveryJournalFiles().empty());
    app->click(IDC_CLOSE);
    expectExit();

    ASSERT_TRUE(launch());
    Sleep(1500);
    EXPECT_EQ(app->findDialog(L"Message"), nullptr) << "a start after No still asked";
}

TEST_F(DataSafety, ASecondInstanceLeavesTheFirstOnesJournalAlone) {
    receiveAndStall(2);
    std::vector<std::wstring> journals = RecoveryJournalFiles();
    ASSERT_EQ(journals.size(), 1u);
    const std::string held = FileBytes(journals[0]);
    EXPECT_FALSE(held.empty());

    AppDriver second;
    ASSERT_TRUE(second.launch(ReaderPath()));
    Sleep(1500);
    EXPECT_EQ(second.findDialog(L"Message"), nullptr) << "the running instance's journal was offered";
    EXPECT_EQ(RecoveryJournalFiles(), journals);
    EXPECT_EQ(FileBytes(journals[0]), held);
    second.click(IDC_CLOSE);
    DWORD exitCode = 99;
    EXPECT_TRUE(second.waitForExit(10000, exitCode));
    EXPECT_EQ(app->lines().size(), 2u);
}

// Bytes that code page 1252 has no character for (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) inside GBK text: the list shows what it can, the file gets the bytes.
TEST_F(DataSafety, GbkEntriesSaveByteForByteOnAWesternCodePage) {
    ASSERT_EQ(GetACP(), 1252u);
    const std::vector<std::string> entries = {"MP:  \xB2\xE2\xC1\xBF\xB5\xE3", "STN: \x81\x40\x8D\x8F\x90\x9D\xA1\xA1",
                                              "JOB: \xD6\xD0\xCE\xC4 end"};
    WriteBytes(sim.windowsPath("gbk.txt"), Joined(entries));
    app->click(IDC_LOAD);
    ASSERT_TRUE(app->chooseFile(Widen(sim.windowsPath("gbk.txt"))));
    ASSERT_TRUE(WaitUntil([&] { return app->lines().size() == entries.size(); }, 5000));
    app->click(IDC_SAVE);
    ASSERT_TRUE(app->chooseFile(Widen(sim.windowsPath("gbk-again.txt"))));
    EXPECT_TRUE(WaitUntil([&] { return Exists(sim.windowsPath("gbk-again.txt")); }, 5000));
    EXPECT_EQ(FileBytes(sim.windowsPath("gbk-again.txt")), Joined(entries));
}

// No place for the journal (a file holds the folder's name): the download
// goes on, and the user is told once, with the platform's reason.
TEST_F(DataSafety, AJournalThatCannotBeCreatedIsReportedOnceAndTheDownloadGoesOn) {
    const std::wstring recovery = RecoveryFolderPath();
    const std::wstring folder = recovery.substr(0, recovery.rfind(L'\\'));
    RemoveDirectoryW(recovery.c_str());
    RemoveDirectoryW(folder.c_str());
    HANDLE blocker = CreateFileW(folder.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(blocker, INVALID_HANDLE_VALUE);
    CloseHandle(blocker);
    ASSERT_EQ(GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);

    ASSERT_TRUE(sim.start("--dialect S"));
    app->click(IDC_RECV);
    MessageBoxSeen box;
    ASSERT_TRUE(app->waitForBox(L"Warning", box, kBoxTimeout)) << "the user was not told";
    EXPECT_NE(box.text.find(Text(TextRecoveryOff)), std::wstring::npos) << Narrow(box.text);
    EXPECT_GT(box.text.size(), Text(TextRecoveryOff).size() + 4) << "no reason given";
    AppDriver::dismiss(box.window);
    ASSERT_TRUE(app->waitForBox(L"Message", box, kBoxTimeout));
    AppDriver::dismiss(box.window);
    EXPECT_EQ(app->lines(), Wide(sim.expectedLines()));
    int status = -1;
    EXPECT_TRUE(sim.waitDone(status, 10000));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(app->findDialog(L"Warning"), nullptr) << "told more than once";
    DeleteFileW(folder.c_str());
}

}  // namespace
}  // namespace kvr::test
