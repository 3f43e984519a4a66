// The record decoder on any frame: a line of at most 255 characters, the
// same every time, and nothing read outside the frame (AddressSanitizer sees
// to that: the frame is copied into a buffer of exactly its size).
//
// Input: byte 0 picks the dialect (even S, odd J), the rest is the frame.
#include "fuzz_check.h"
#include "kvr_protocol.h"
#include "record_decoder.h"

#include <cstdint>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    kvr::Dialect dialect = data[0] % 2 ? kvr::Dialect::J : kvr::Dialect::S;
    std::size_t n = size - 1;
    std::unique_ptr<std::uint8_t[]> frame(new std::uint8_t[n ? n : 1]);
    for (std::size_t i = 0; i < n; ++i) frame[i] = data[1 + i];

    std::string line = kvr::decodeRecord(dialect, frame.get(), n);
    FUZZ_CHECK(line.size() <= kvr::kMaxLineLength);
    FUZZ_CHECK(kvr::decodeRecord(dialect, frame.get(), n) == line);
    // A complete frame of a known type always gives a line; anything else none.
    std::size_t body = n >= kvr::kHeaderLength ? kvr::bodyLength(dialect, frame[9]) : 0;
    bool complete = body != 0 && n >= kvr::kHeaderLength + body;
    FUZZ_CHECK(complete == !line.empty());
    return 0;
}
