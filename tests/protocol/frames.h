// Building record frames for tests: a header, a body of spaces, and field
// texts placed at their columns.
#pragma once

#include "kvr_protocol.h"
#include "record_decoder.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kvr::test {

using Bytes = std::vector<std::uint8_t>;

struct Placement {
    std::size_t column;
    std::string text;
};

inline Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A frame of the given type: header byte 0, the two counter groups, the type,
// then a body of spaces whose last byte is lastByte, with the placements
// written over it.
inline Bytes makeFrame(Dialect dialect, std::uint8_t type, const std::vector<Placement>& placements = {},
                       const std::string& total = "0001", const std::string& current = "0001",
                       std::uint8_t byte0 = 0x02, std::uint8_t lastByte = '9') {
    Bytes frame(kHeaderLength + bodyLength(dialect, type), ' ');
    frame[0] = byte0;
    for (int i = 0; i < 4; ++i) {
        frame[1 + i] = std::uint8_t(total[i]);
        frame[5 + i] = std::uint8_t(current[i]);
    }
    frame[9] = type;
    frame.back() = lastByte;
    for (const Placement& placement : placements)
        for (std::size_t i = 0; i < placement.text.size(); ++i) frame.at(placement.column + i) = std::uint8_t(placement.text[i]);
    return frame;
}

inline void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

}  // namespace kvr::test
