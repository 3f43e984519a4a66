// Big lists and fast downloads through the real KvrReader.exe under Wine.
// Nothing here asserts a time: make bench prints the figures.
#include "sim_broker.h"
#include "gui_test_support.h"
#include "resource_ids.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace kvr::test {
namespace {

class BigLists : public ProgramTest {
protected:
    void load(const std::string& name) {
        app.click(IDC_LOAD);
        ASSERT_TRUE(app.chooseFile(Widen(sim.windowsPath(name))));
    }

    SimBroker sim;
};

std::string NumberedLine(std::size_t i) {
    char line[128];
    std::snprintf(line, sizeof line, "MP:  P%06zu,CODE,123.4567,89.0123,100.000,99.999,1.234,1.500,0.000,3000000.%03zu,500000.000",
                  i, i % 1000);
    return line;
}

TEST_F(BigLists, LoadsAHundredThousandLines) {
    const std::size_t count = 100000;
    std::vector<std::string> lines;
    for (std::size_t i = 1; i <= count; ++i) lines.push_back(NumberedLine(i));
    WriteBytes(sim.windowsPath("big.txt"), Joined(lines));
    load("big.txt");
    HWND list = GetDlgItem(app.main(), IDC_RECORDS);
    ASSERT_TRUE(WaitUntil([&] { return SendMessageW(list, LB_GETCOUNT, 0, 0) == LRESULT(count); }, 60000))
        << SendMessageW(list, LB_GETCOUNT, 0, 0) << " lines";
    auto line = [&](LRESULT index) {
        wchar_t text[256] = {};
        SendMessageW(list, LB_GETTEXT, WPARAM(index), LPARAM(text));
        return std::wstring(text);
    };
    EXPECT_EQ(line(0), Widen(lines.front()));
    EXPECT_EQ(line(LRESULT(count - 1)), Widen(lines.back()));
    EXPECT_EQ(line(LRESULT(count / 2)), Widen(lines[count / 2]));
    // The newest line is in view.
    LRESULT top = SendMessageW(list, LB_GETTOPINDEX, 0, 0);
    EXPECT_GT(top, LRESULT(count - 100));
}

TEST_F(BigLists, CopyPutsTheWholeListOnTheClipboard) {
    const std::vector<std::string> lines = {"JOB: SITE7", "STN: ST01,CTRL,1.562", "MP:  P1,TREE,90.4840"};
    WriteBytes(sim.windowsPath("copy.txt"), Joined(lines));
    load("copy.txt");
    ASSERT_TRUE(WaitUntil([&] { return app.lines().size() == lines.size(); }, 5000));
    const std::wstring expected = Widen(Joined(lines));

    // Ctrl+C with the focus on the list.
    ASSERT_TRUE(ClearClipboard());
    app.focus(IDC_RECORDS);
    Sleep(200);
    TypeKeys({VK_CONTROL, 'C'});
    EXPECT_TRUE(WaitUntil([&] { return ClipboardText() == expected; }, 5000)) << Narrow(ClipboardText());

    // The context menu's "Copy all lines", opened and picked from the keyboard.
    ASSERT_TRUE(ClearClipboard());
    TypeKeys({VK_SHIFT, VK_F10});
    Sleep(300);
    TypeKeys({VK_DOWN});
    TypeKeys({VK_RETURN});
    EXPECT_TRUE(WaitUntil([&] { return ClipboardText() == expected; }, 5000)) << Narrow(ClipboardText());
    EXPECT_TRUE(app.running());
}

// A few hundred records at full speed: every line, in order, and every
// acknowledgement right (the simulator checks each one).
TEST_F(BigLists, AnUnpacedDownloadKeepsEveryLineInOrder) {
    std::string records;
    for (int i = 1; i <= 400; ++i)
        records += "MP P" + std::to_string(i) + " A 0" + std::to_string(100000 + i) + " 0900000 10 10 0 1.5 0 110 " +
                   std::to_string(200 + i) + " 30\n";
    WriteBytes(sim.windowsPath("many.txt"), "JOB J400\nSTN S1 - 1.5 100 200 30\nBK S1 B1 0900000\n" + records);
    ASSERT_TRUE(sim.start("--dialect J --records " + sim.unixPath("many.txt")));
    app.click(IDC_RECV);
    MessageBoxSeen box;
    ASSERT_TRUE(app.waitForBox(L"Message", box, 60000));
    EXPECT_EQ(box.text, Text(TextReceiveFinished));
    AppDriver::dismiss(box.window);
    int status = -1;
    ASSERT_TRUE(sim.waitDone(status, 10000));
    EXPECT_EQ(status, 0) << "an acknowledgement was wrong or missing";
    std::vector<std::string> expected = sim.expectedLines();
    ASSERT_EQ(expected.size(), 403u);
    EXPECT_EQ(app.lines(), Wide(expected));
}

}  // namespace
}  // namespace kvr::test
