// The serial port as a ByteLink on POSIX systems, for the native tools:
// termios raw mode at 1200 baud 8N1, opened exclusively. Reads block in
// poll() on the port and on a stop pipe, so waiting costs nothing and a stop
// request from another thread or a signal handler ends the wait at once.
#pragma once

#include "kvr_protocol.h"

#include <string>

namespace kvr {

class PosixSerialLink final : public ByteLink {
public:
    PosixSerialLink();
    ~PosixSerialLink() override;
    PosixSerialLink(const PosixSerialLink&) = delete;
    PosixSerialLink& operator=(const PosixSerialLink&) = delete;

    // On failure errno holds the code of the failed step; another holder of
    // the port gives EBUSY.
    bool open(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }
    void close();

    bool readExact(std::uint8_t* buffer, std::size_t n) override;
    bool write(const std::uint8_t* bytes, std::size_t n) override;

    // Async-signal-safe and callable from any thread: a waiting or later
    // readExact or write fails at once with ECANCELED.
    void requestStop();
    bool stopRequested() const;

private:
    bool waitFor(short events);
    // True, with errno ECANCELED, once a stop has been requested.
    bool failIfStopped() const;

    int fd_ = -1;
    int stopPipe_[2] = {-1, -1};
};

}  // namespace kvr
