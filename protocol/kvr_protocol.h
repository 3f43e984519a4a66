// The receive protocol: what the engine needs from the world and what it
// gives back. This header depends on nothing but the standard library, so the
// engine runs the same against a serial port, a pseudo-terminal or a script.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kvr {

// A byte stream to the instrument. Both calls report success with a flag; on
// failure the platform's error code of the failed operation is left in place
// for the caller's report, and nothing may touch it before that report.
class ByteLink {
public:
    virtual ~ByteLink() = default;
    // Waits for and stores exactly n bytes; never succeeds with fewer.
    virtual bool readExact(std::uint8_t* buffer, std::size_t n) = 0;
    // Writes all n bytes, or fails.
    virtual bool write(const std::uint8_t* bytes, std::size_t n) = 0;
};

// The main window as the engine sees it. Both calls return after the window
// has applied them, so titles and lines arrive in order.
class TransferSink {
public:
    virtual ~TransferSink() = default;
    virtual void setTitle(const std::string& text) = 0;
    virtual void addLine(const std::string& text) = 0;
};

// How one run ended. The instrument's error token and an unknown record type
// have outcomes of their own: they are not link failures, and reporting them
// through the platform's last error code would show an unrelated (usually
// "success") message.
enum class ReceiveOutcome {
    Completed,       // end token, or the last frame was acknowledged
    Failed,          // a read or write on the link failed
    FrameHeadError,  // no valid sync token
    InstrumentError, // the instrument sent its error token
    BadRecordType,   // a frame header named a record type other than 7 to 10
};

// The protocol variant, fixed for one run by the sync token.
enum class Dialect { S, J };

// Header byte 9.
enum RecordType : std::uint8_t {
    RecordJob = 7,
    RecordStation = 8,
    RecordBacksight = 9,
    RecordMeasuredPoint = 10,
};

constexpr std::size_t kHeaderLength = 10;
constexpr std::size_t kMaxFrameLength = 121;  // MP in dialect J

// Carries out one whole download and returns once. Keeps nothing between runs.
class ReceiveEngine {
public:
    ReceiveOutcome run(ByteLink& link, TransferSink& sink);
};

}  // namespace kvr
