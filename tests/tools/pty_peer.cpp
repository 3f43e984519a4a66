// pty-peer: the other end of a serial link test. Creates a pty, links PATH
// to it, then plays its steps in order:
//   open-wait      wait until a receiver opens the port
//   send:HEX       send these bytes
//   sleep:MS       pause
//   expect:HEX     read exactly these bytes (5 s limit)
//   line:1200      the port is raw at 1200 baud, 8 data bits, no parity, 1 stop
//                  bit, with no flow control of any kind
//   handshaking    turn on RTS/CTS and XON/XOFF, as a previous program may have
//   close-wait     wait until the receiver lets go of the port (10 s limit)
// Exits 0 when every step passed; otherwise names the step and exits 1.
#include "pty.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::uint8_t> FromHex(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(std::uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

bool Expect(int master, const std::vector<std::uint8_t>& expected) {
    std::vector<std::uint8_t> got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (got.size() < expected.size() && std::chrono::steady_clock::now() < deadline) {
        pollfd fd = {master, POLLIN, 0};
        if (poll(&fd, 1, 50) <= 0 || !(fd.revents & POLLIN)) continue;
        std::uint8_t byte;
        if (read(master, &byte, 1) == 1) got.push_back(byte);
    }
    return got == expected;
}

bool LineIs1200Raw8N1(const std::string& slavePath) {
    int fd = open(slavePath.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    termios settings;
    bool ok = fd >= 0 && tcgetattr(fd, &settings) == 0;
    if (fd >= 0) close(fd);
    if (!ok) return false;
    std::fprintf(stderr, "pty-peer: speed %u/%u cflag %o lflag %o\n", unsigned(cfgetispeed(&settings)),
                 unsigned(cfgetospeed(&settings)), unsigned(settings.c_cflag), unsigned(settings.c_lflag));
    std::fprintf(stderr, "pty-peer: iflag %o\n", unsigned(settings.c_iflag));
    return cfgetospeed(&settings) == B1200 && (settings.c_cflag & CSIZE) == CS8 &&
           (settings.c_cflag & (PARENB | CSTOPB | CRTSCTS)) == 0 && (settings.c_lflag & (ICANON | ECHO)) == 0 &&
           (settings.c_iflag & (IXON | IXOFF | IXANY)) == 0;
}

// What a program that used the port before may have left behind: hardware
// and XON/XOFF handshaking.
bool SetHandshaking(const std::string& slavePath) {
    int fd = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios settings;
    bool ok = fd >= 0 && tcgetattr(fd, &settings) == 0;
    if (ok) {
        settings.c_cflag |= CRTSCTS;
        settings.c_iflag |= IXON | IXOFF;
        ok = tcsetattr(fd, TCSANOW, &settings) == 0;
    }
    if (fd >= 0) close(fd);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: pty-peer PATH step...\n");
        return 2;
    }
    kvr::tools::Pty pty;
    std::string error;
    if (!kvr::tools::OpenPty(pty, argv[1], error)) {
        std::fprintf(stderr, "pty-peer: %s\n", error.c_str());
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        std::string step = argv[i];
        std::string value = step.substr(step.find(':') + 1);
        bool ok = true;
        if (step == "open-wait") ok = kvr::tools::WaitForReceiver(pty.master, true, 30000);
        else if (step == "close-wait") ok = kvr::tools::WaitForReceiver(pty.master, false, 10000);
        else if (step.rfind("send:", 0) == 0) {
            std::vector<std::uint8_t> bytes = FromHex(value);
            ok = write(pty.master, bytes.data(), bytes.size()) == ssize_t(bytes.size());
        } else if (step.rfind("sleep:", 0) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(value.c_str())));
        else if (step.rfind("expect:", 0) == 0) ok = Expect(pty.master, FromHex(value));
        else if (step == "line:1200") ok = LineIs1200Raw8N1(pty.slavePath);
        else if (step == "handshaking") ok = SetHandshaking(pty.slavePath);
        else {
            std::fprintf(stderr, "pty-peer: unknown step %s\n", step.c_str());
            return 2;
        }
        if (!ok) {
            std::fprintf(stderr, "pty-peer: step %s failed\n", step.c_str());
            return 1;
        }
    }
    return 0;
}
