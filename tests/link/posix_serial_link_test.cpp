// The POSIX link against a pseudo-terminal whose master side the test plays.
#include "posix_serial_link.h"
#include "pty.h"

#include <gtest/gtest.h>

#include <cstring>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace kvr::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class PosixLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(tools::OpenPty(pty_, "", error)) << error;
    }
    void TearDown() override {
        if (pty_.master >= 0) close(pty_.master);
    }
    void send(const char* bytes) { ASSERT_EQ(::write(pty_.master, bytes, strlen(bytes)), ssize_t(strlen(bytes))); }

    tools::Pty pty_;
    PosixSerialLink link_;
};

TEST_F(PosixLinkTest, ReadExactWaitsForAllBytesWhenTheyArriveInPieces) {
    ASSERT_TRUE(link_.open(pty_.slavePath));
    std::uint8_t buffer[3] = {9, 9, 9};
    std::atomic<bool> done{false};
    bool ok = false;
    std::thread reader([&] {
        ok = link_.readExact(buffer, 3);
        done = true;
    });
    send("AB");
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(done) << "returned with two of three bytes";
    send("C");
    reader.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "ABC");
}

// Also when a program before left handshaking on.
TEST_F(PosixLinkTest, AppliesRawLineSettingsAt1200Baud8N1) {
    termios settings;
    ASSERT_EQ(tcgetattr(pty_.master, &settings), 0);
    settings.c_cflag |= CRTSCTS;
    settings.c_cflag &= ~tcflag_t(CLOCAL);
    settings.c_iflag |= IXON | IXOFF | IXANY;
    ASSERT_EQ(tcsetattr(pty_.master, TCSANOW, &settings), 0);
    ASSERT_TRUE(link_.open(pty_.slavePath));
    int fd = ::open(pty_.slavePath.c_str(), O_RDONLY | O_NOCTTY);  // root passes TIOCEXCL
    ASSERT_GE(fd, 0);
    ASSERT_EQ(tcgetattr(fd, &settings), 0);
    close(fd);
    EXPECT_NE(settings.c_cflag & CLOCAL, tcflag_t(0));
    EXPECT_EQ(cfgetispeed(&settings), speed_t(B1200));
    EXPECT_EQ(cfgetospeed(&settings), speed_t(B1200));
    EXPECT_EQ(settings.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
    EXPECT_EQ(settings.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), tcflag_t(0));
}

// Open, close and open again the same port. Exclusive mode stays on a pty
// after its descriptor closes unless it is let go, and then only root could
// open it again: ctest also runs this as an unprivileged user.
TEST_F(PosixLinkTest, ReopensTheSamePort) {
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(link_.open(pty_.slavePath)) << "round " << round << ": " << std::strerror(errno);
        link_.close();
    }
}

TEST_F(PosixLinkTest, WritesReachThePeer) {
    ASSERT_TRUE(link_.open(pty_.slavePath));
    const std::uint8_t ack[10] = {0x02, '0', '0', '0', '2', '0', '0', '0', '1', 0x0D};
    ASSERT_TRUE(link_.write(ack, sizeof ack));
    std::uint8_t got[10];
    std::size_t have = 0;
    while (have < sizeof got) {
        ssize_t n = ::read(pty_.master, got + have, sizeof got - have);
        ASSERT_GT(n, 0);
        have += std::size_t(n);
    }
    EXPECT_EQ(0, memcmp(ack, got, sizeof ack));
}

TEST_F(PosixLinkTest, OpenFailsForMissingAndBusyPorts) {
    PosixSerialLink missing;
    EXPECT_FALSE(missing.open("/dev/kvr-no-such-port"));
    EXPECT_EQ(errno, ENOENT);

    ASSERT_TRUE(link_.open(pty_.slavePath));
    PosixSerialLink second;
    EXPECT_FALSE(second.open(pty_.slavePath));
    EXPECT_EQ(errno, EBUSY);
    link_.close();
    EXPECT_TRUE(second.open(pty_.slavePath)) << "the port is free again after close";
}

TEST_F(PosixLinkTest, StopRequestEndsAWaitingReadAndLaterCalls) {
    ASSERT_TRUE(link_.open(pty_.slavePath));
    std::uint8_t buffer[1];
    bool ok = true;
    int error = 0;
    Clock::time_point returned;
    std::thread reader([&] {
        ok = link_.readExact(buffer, 1);
        error = errno;
        returned = Clock::now();
    });
    std::this_thread::sleep_for(200ms);
    Clock::time_point stopped = Clock::now();
    link_.requestStop();
    reader.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, ECANCELED);
    EXPECT_TRUE(link_.stopRequested());
    // The stop wakes the wait at once; the bound is loose only so that a
    // busy machine does not fail the test.
    EXPECT_LT(returned - stopped, 500ms);
    std::printf("stop to return: %.2f ms\n", std::chrono::duration<double, std::milli>(returned - stopped).count());
    send("A");
    EXPECT_FALSE(link_.readExact(buffer, 1));
    EXPECT_FALSE(link_.write(buffer, 1));
}

TEST_F(PosixLinkTest, HangUpFailsAWaitingRead) {
    ASSERT_TRUE(link_.open(pty_.slavePath));
    std::uint8_t buffer[4];
    bool ok = true;
    int error = 0;
    std::thread reader([&] {
        ok = link_.readExact(buffer, 4);
        error = errno;
    });
    send("AB");
    std::this_thread::sleep_for(100ms);
    close(pty_.master);
    pty_.master = -1;
    reader.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, EIO);
}

}  // namespace
}  // namespace kvr::test
