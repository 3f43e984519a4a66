#include "serial_port_link.h"

#include <mmsystem.h>

#include <algorithm>
#include <cctype>

namespace kvr {
namespace {

constexpr double kByteMilliseconds = 10.0 * 1000.0 / 1200.0;  // start, 8 data, stop bit
constexpr DWORD kQuietWaitLimit = 50;
constexpr DWORD kStreamingWaitLimit = 20;
// How long a write may wait for the line to take its bytes.
constexpr DWORD kWriteLimit = 5000;

double NowMilliseconds() {
    static const double ticksPerMillisecond = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return double(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) / ticksPerMillisecond;
}

bool IsBareComName(const std::string& name) {
    if (name.size() < 4) return false;
    if (std::toupper(static_cast<unsigned char>(name[0])) != 'C' || std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(name[2])) != 'M')
        return false;
    return std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string DevicePathForPort(const std::string& name) { return IsBareComName(name) ? "\\\\.\\" + name : name; }

SerialPortLink::SerialPortLink() {
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

SerialPortLink::~SerialPortLink() {
    close();
    if (stop_) CloseHandle(stop_);
    if (done_) CloseHandle(done_);
}

bool SerialPortLink::open(const std::string& name) {
    close();  // a link that is still open lets go of its port first
    std::string path = DevicePathForPort(name);
    std::wstring widePath(path.size(), L'\0');
    int length = MultiByteToWideChar(CP_UTF8, 0, path.data(), int(path.size()), &widePath[0], int(widePath.size()));
    widePath.resize(std::size_t(length > 0 ? length : 0));
    // Overlapped, so that a write waits on the stop event too: a stop that
    // comes just before or during a write ends it, and no check can be
    // passed a moment before the stop and then block.
    port_ = CreateFileW(widePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (port_ == INVALID_HANDLE_VALUE) return false;

    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;  // a read returns at once with what is buffered
    // No driver write timeout: write() waits for at most kWriteLimit itself.
    if (!SetCommTimeouts(port_, &timeouts)) return false;

    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port_, &dcb)) return false;
    // Every field that can hold the line up is set: the driver keeps the
    // last program's settings, and a port left with hardware or XON/XOFF
    // handshaking would hold each acknowledgement until the write timeout.
    dcb.BaudRate = CBR_1200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    return SetCommState(port_, &dcb) != FALSE;
}

void SerialPortLink::close() {
    if (port_ != INVALID_HANDLE_VALUE) {
        // After a stop, bytes still queued in the driver stay unsent.
        if (stopRequested()) PurgeComm(port_, PURGE_TXABORT | PURGE_TXCLEAR);
        CloseHandle(port_);
        port_ = INVALID_HANDLE_VALUE;
    }
}

void SerialPortLink::requestStop() { SetEvent(stop_); }

void SerialPortLink::clearStopRequest() { ResetEvent(stop_); }

bool SerialPortLink::stopRequested() const { return WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0; }

bool SerialPortLink::failStopped() {
    SetLastError(ERROR_OPERATION_ABORTED);
    return false;
}

// One-millisecond waits need the fine system timer on Windows, which costs
// battery for the whole system while it is held. It is taken only while the
// bytes of a frame are arriving and given back when the wait ends, so a link
// that waits for the sync, or for the next frame, holds none.
void SerialPortLink::useFineTimer() {
    if (!fineTimer_) fineTimer_ = timeBeginPeriod(1) == TIMERR_NOERROR;
}

void SerialPortLink::releaseFineTimer() {
    if (fineTimer_) timeEndPeriod(1);
    fineTimer_ = false;
}

// Reads what the driver holds, up to the n - got bytes still missing.
// The bytes are queued already, so the read completes at once.
bool SerialPortLink::readQueued(std::uint8_t* buffer, std::size_t n, std::size_t& got) {
    OVERLAPPED operation = {};
    operation.hEvent = done_;
    ResetEvent(done_);
    DWORD read = 0;
    if (!ReadFile(port_, buffer + got, DWORD(n - got), nullptr, &operation) && GetLastError() != ERROR_IO_PENDING)
        return false;
    if (!GetOverlappedResult(port_, &operation, &read, TRUE)) return false;
    got += read;
    return true;
}

bool SerialPortLink::readExact(std::uint8_t* buffer, std::size_t n) {
    bool ok = waitAndRead(buffer, n);
    DWORD error = GetLastError();
    releaseFineTimer();
    SetLastError(error);
    return ok;
}

bool SerialPortLink::waitAndRead(std::uint8_t* buffer, std::size_t n) {
    std::fill(buffer, buffer + n, std::uint8_t(0));
    std::size_t got = 0;
    DWORD lastQueued = MAXDWORD;
    double previousQuery = NowMilliseconds();
    double lastArrival = previousQuery;
    DWORD quietWait = 1;
    while (got < n) {
        if (stopRequested()) return failStopped();
        DWORD errors = 0;
        COMSTAT status = {};
        if (!ClearCommError(port_, &errors, &status)) return false;
        if (status.cbInQue >= n - got) {
            // A short read is not an error: the rest is fetched on the next round.
            if (!readQueued(buffer, n, got)) return false;
            continue;
        }
        double now = NowMilliseconds();
        if (status.cbInQue != lastQueued) {
            // The newest byte came at some moment since the previous query;
            // assuming the earliest never lets the link oversleep.
            lastQueued = status.cbInQue;
            lastArrival = previousQuery;
            quietWait = 1;
        }
        previousQuery = now;
        // The earliest moment the last missing byte can arrive at line speed.
        // Only bytes of this read that have arrived say that a frame streams
        // at line speed; before the first one, the sender may be faster
        // than the wire (a replay, a pty), so the wait starts short.
        bool arriving = got > 0 || status.cbInQue > 0;
        double due = lastArrival + double(n - got - status.cbInQue) * kByteMilliseconds - now;
        DWORD wait;
        if (arriving && due > 2.0) {
            wait = std::min<DWORD>(DWORD(due) - 1, kStreamingWaitLimit);
        } else if (arriving && due > -2.0 * kByteMilliseconds) {
            useFineTimer();  // a frame is arriving
            wait = 1;  // the byte is due now
        } else {
            wait = quietWait;  // the line went quiet
            quietWait = std::min<DWORD>(quietWait * 2, kQuietWaitLimit);
        }
        if (WaitForSingleObject(stop_, wait) == WAIT_OBJECT_0) return failStopped();
    }
    return true;
}

bool SerialPortLink::write(const std::uint8_t* bytes, std::size_t n) {
    if (stopRequested()) return failStopped();
    OVERLAPPED operation = {};
    operation.hEvent = done_;
    ResetEvent(done_);
    DWORD written = 0;
    if (!WriteFile(port_, bytes, DWORD(n), nullptr, &operation) && GetLastError() != ERROR_IO_PENDING) return false;
    // One wait for the write and the stop: a stop that came after the check
    // above is seen here, at once, however long the write would take.
    HANDLE events[2] = {done_, stop_};
    DWORD woken = WaitForMultipleObjects(2, events, FALSE, kWriteLimit);
    if (woken != WAIT_OBJECT_0) {
        // Stopped, or the line took no bytes for kWriteLimit: what is left
        // of the write is withdrawn before the call returns.
        CancelIoEx(port_, &operation);
        PurgeComm(port_, PURGE_TXABORT | PURGE_TXCLEAR);
        GetOverlappedResult(port_, &operation, &written, TRUE);
        SetLastError(woken == WAIT_OBJECT_0 + 1 ? ERROR_OPERATION_ABORTED : ERROR_TIMEOUT);
        return false;
    }
    if (!GetOverlappedResult(port_, &operation, &written, FALSE)) return false;
    if (written != n) {
        // The instrument did not take the bytes, and a lost acknowledgement
        // is no success.
        SetLastError(ERROR_TIMEOUT);
        return false;
    }
    return true;
}

}  // namespace kvr
