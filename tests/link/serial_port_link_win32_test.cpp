// The Windows link under Wine. The tests named WithPeer expect pty-peer or
// kvr-sim on the other end of COM7 (see tests/CMakeLists.txt for the steps
// each one plays); the others need no port.
#include "record_decoder.h"
#include "serial_port_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace kvr::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const char kPort[] = "COM7";

TEST(WindowsLink, BareComNamesGoThroughTheDeviceNamespace) {
    struct Row { const char* typed; const char* opened; };
    const Row rows[] = {{"COM1", "\\\\.\\COM1"},   {"COM12", "\\\\.\\COM12"}, {"com3", "\\\\.\\com3"},
                        {"COM", "COM"},            {"COMX", "COMX"},          {"COM1:", "COM1:"},
                        {"\\\\.\\COM5", "\\\\.\\COM5"}, {"LPT1", "LPT1"},     {"", ""}};
    for (const Row& row : rows) EXPECT_EQ(DevicePathForPort(row.typed), row.opened) << row.typed;
}

TEST(WindowsLink, MissingPortFailsWithThePlatformsCode) {
    SerialPortLink link;
    SetLastError(0);
    EXPECT_FALSE(link.open("COM42"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(link.isOpen());
}

// Peer: open-wait sleep:300 send:4142 sleep:600 send:43 expect:58595A close-wait
TEST(WindowsLink, WithPeerReadExactWaitsForBytesThatArriveInPieces) {
    SerialPortLink link;
    ASSERT_TRUE(link.open(kPort)) << GetLastError();
    std::uint8_t buffer[3];
    Clock::time_point start = Clock::now();
    ASSERT_TRUE(link.readExact(buffer, 3));
    // The third byte comes 600 ms after the first two: returning earlier
    // would mean a read with bytes missing.
    EXPECT_GE(Clock::now() - start, 500ms);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "ABC");
    const std::uint8_t answer[3] = {'X', 'Y', 'Z'};
    EXPECT_TRUE(link.write(answer, 3));
    link.close();
}

// Peer: handshaking open-wait line:1200 send:01 close-wait. The pty had
// RTS/CTS and XON/XOFF turned on before the open; the peer sees them off.
TEST(WindowsLink, WithPeerOpenAppliesTheLineSettings) {
    SerialPortLink link;
    ASSERT_TRUE(link.open("com7")) << GetLastError();
    // The peer checks the pty's settings from the Linux side, then sends a byte.
    std::uint8_t byte = 0;
    ASSERT_TRUE(link.readExact(&byte, 1));
    EXPECT_EQ(byte, 1);
    link.close();
    link.close();  // a second close does nothing
}

// Peer: open-wait sleep:2500, then twelve bytes 9 ms apart (about line
// speed), then close-wait. No fine timer while the line is idle; held once a
// frame's bytes stream in; given back when the wait ends.
TEST(WindowsLink, WithPeerFineTimerOnlyWhileAFrameArrives) {
    SerialPortLink link;
    ASSERT_TRUE(link.open(kPort)) << GetLastError();
    std::thread worker([&] {
        std::uint8_t frame[16];
        link.readExact(frame, 16);  // twelve bytes come, then the line goes quiet
    });
    bool heldWhileIdle = false;
    for (Clock::time_point end = Clock::now() + 2000ms; Clock::now() < end;) {
        heldWhileIdle = heldWhileIdle || link.holdsFineTimer();
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_FALSE(heldWhileIdle) << "the fine timer was taken while nothing arrived";
    bool heldWhileArriving = false;
    for (Clock::time_point end = Clock::now() + 3000ms; Clock::now() < end && !heldWhileArriving;) {
        heldWhileArriving = link.holdsFineTimer();
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(heldWhileArriving) << "the byte never arrived, or the link did not wait finely for the rest";
    link.requestStop();
    worker.join();
    EXPECT_FALSE(link.holdsFineTimer()) << "still held after the wait ended";
}

// Peer: open-wait close-wait
TEST(WindowsLink, WithPeerStopRequestEndsAWaitPromptly) {
    SerialPortLink link;
    ASSERT_TRUE(link.open(kPort)) << GetLastError();
    std::atomic<bool> ok{true};
    std::atomic<DWORD> error{0};
    Clock::time_point returned;
    std::thread worker([&] {
        std::uint8_t byte;
        ok = link.readExact(&byte, 1);
        error = GetLastError();
        returned = Clock::now();
    });
    std::this_thread::sleep_for(1500ms);  // long enough for the wait to have grown to its longest
    Clock::time_point stopped = Clock::now();
    link.requestStop();
    worker.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, DWORD(ERROR_OPERATION_ABORTED));
    EXPECT_TRUE(link.stopRequested());
    // The stop wakes the wait at once; the bound is loose only so that a
    // busy machine does not fail the test.
    EXPECT_LT(returned - stopped, 500ms);
    std::printf("stop to return: %.2f ms\n", std::chrono::duration<double, std::milli>(returned - stopped).count());
    std::uint8_t byte = 0;
    EXPECT_FALSE(link.write(&byte, 1));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_OPERATION_ABORTED));
}

// Peer: open-wait close-wait. It never reads, so the line backs up and the
// 5 s write timeout runs out: that write must fail, not pass as sent.
TEST(WindowsLink, WithPeerWriteThatTimesOutFails) {
    SerialPortLink link;
    ASSERT_TRUE(link.open(kPort)) << GetLastError();
    std::vector<std::uint8_t> bytes(1 << 20, 'x');
    SetLastError(0);
    EXPECT_FALSE(link.write(bytes.data(), bytes.size()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_TIMEOUT));
}

// Peer: open-wait close-wait. A stop while a write waits for a line that
// takes no bytes ends that write at once, not at the write limit.
TEST(WindowsLink, WithPeerStopEndsAWaitingWrite) {
    SerialPortLink link;
    ASSERT_TRUE(link.open(kPort)) << GetLastError();
    std::vector<std::uint8_t> bytes(1 << 20, 'x');
    std::atomic<bool> ok{true};
    std::atomic<DWORD> error{0};
    Clock::time_point returned;
    std::thread worker([&] {
        ok = link.write(bytes.data(), bytes.size());
        error = GetLastError();
        returned = Clock::now();
    });
    std::this_thread::sleep_for(1000ms);  // the line has backed up by now
    Clock::time_point stopped = Clock::now();
    link.requestStop();
    worker.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, DWORD(ERROR_OPERATION_ABORTED));
    double milliseconds = std::chrono::duration<double, std::milli>(returned - stopped).count();
    EXPECT_LT(milliseconds, 1000.0);
    std::printf("stop to return of a write: %.2f ms\n", milliseconds);
}

class CollectingSink : public TransferSink {
public:
    void setTitle(const std::string&) override {}
    void addLine(const std::string& text) override { lines.push_back(text); }
    std::vector<std::string> lines;
};

// Peer: kvr-sim with the sample job; KVR_EXPECT_LINES names its --print-lines file.
TEST(WindowsLink, WithPeerDownloadsTheSampleJob) {
    const char* expectedPath = std::getenv("KVR_EXPECT_LINES");
    ASSERT_NE(expectedPath, nullptr);
    SerialPortLink link;
    ASSERT_TRUE(link.open(kPort)) << GetLastError();
    CollectingSink sink;
    EXPECT_EQ(ReceiveEngine().run(link, sink), ReceiveOutcome::Completed) << GetLastError();
    link.close();

    std::vector<std::string> expected;
    std::ifstream file(expectedPath);
    for (std::string line; std::getline(file, line);) expected.push_back(line);
    ASSERT_EQ(expected.size(), 39u);
    EXPECT_EQ(sink.lines, expected);
}

}  // namespace
}  // namespace kvr::test

