// The serial port as a ByteLink, on Windows.
//
// The port is opened without overlapped I/O and polled with ClearCommError,
// as a plain blocking design would, but the wait between two queries is a
// wait on the link's stop event. That wait is short only while bytes are
// due: at 1200 baud a byte takes 8.3 ms, so while a frame streams in the link
// sleeps until shortly before the last missing byte can have arrived and then
// queries every millisecond. Before a read's first byte, and when the line
// is quiet, the wait starts at 1 ms and doubles up to 50 ms,
// which keeps an idle link (no sync yet) well below 1% of a core. The stop
// event ends any wait at once: that is how Cancel stops the worker. Writes
// are overlapped and wait on the same event, so a stop is never missed
// between a check and a write, and nothing is sent once a stop has been
// seen: what was still queued is purged.
#pragma once

#include "kvr_protocol.h"

#include <windows.h>

#include <atomic>
#include <string>

namespace kvr {

// The platform name for a port: a bare COM plus digits goes through the
// device namespace (\\.\COM12), since only COM1 to COM9 open by bare name;
// anything else is used as typed.
std::string DevicePathForPort(const std::string& name);

class SerialPortLink final : public ByteLink {
public:
    SerialPortLink();
    ~SerialPortLink() override;
    SerialPortLink(const SerialPortLink&) = delete;
    SerialPortLink& operator=(const SerialPortLink&) = delete;

    // Opens the port (name in UTF-8) and sets 1200 baud, 8 data bits, no
    // parity, one stop bit, binary, no flow control of any kind. On failure
    // GetLastError() holds the code of the failed step; a handle obtained
    // before that stays open until close().
    bool open(const std::string& name);
    bool isOpen() const { return port_ != INVALID_HANDLE_VALUE; }
    // Releases the port. Safe to call more than once.
    void close();

    bool readExact(std::uint8_t* buffer, std::size_t n) override;
    bool write(const std::uint8_t* bytes, std::size_t n) override;

    // Callable from any thread: a waiting or later readExact or write fails
    // at once with ERROR_OPERATION_ABORTED, and what a stopped write had not
    // yet sent is withdrawn.
    void requestStop();
    bool stopRequested() const;
    // Withdraws a stop request, before the link serves a new transfer.
    void clearStopRequest();
    // Whether this link holds the 1 ms system timer now.
    bool holdsFineTimer() const { return fineTimer_; }

private:
    bool failStopped();
    bool readQueued(std::uint8_t* buffer, std::size_t n, std::size_t& got);
    bool waitAndRead(std::uint8_t* buffer, std::size_t n);
    void useFineTimer();
    void releaseFineTimer();

    HANDLE port_ = INVALID_HANDLE_VALUE;
    HANDLE stop_ = nullptr;
    HANDLE done_ = nullptr;  // signalled when the current read or write completes
    std::atomic<bool> fineTimer_{false};  // read by holdsFineTimer from any thread
};

}  // namespace kvr
