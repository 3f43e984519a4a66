// Record frames to text lines.
#pragma once

#include "kvr_protocol.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kvr {

constexpr std::size_t kMaxLineLength = 255;

enum class FieldKind { Characters, Number, Angle };

// One field of a record body: first and last column in the frame, both
// included.
struct FieldColumns {
    std::size_t first;
    std::size_t last;
    FieldKind kind;
};

// The fields of a record type in column order (T1, T2, angles, numbers), or
// none for a type outside 7 to 10. The last column of a frame belongs to no
// field.
std::vector<FieldColumns> recordLayout(Dialect dialect, int recordType);

// Body length that follows the header for a record type, or 0 for a type
// outside 7 to 10.
std::size_t bodyLength(Dialect dialect, int recordType);

// The list line for one complete frame (header and body, size bytes from
// column 0). The record type is taken from column 9. Returns "" if the frame
// is too short for its type or the type is unknown. The line never exceeds
// kMaxLineLength characters.
//
// Number fields without a value print as 0.000 and angle integers without a
// value as 0; a number beyond the double range prints as inf or -inf.
std::string decodeRecord(Dialect dialect, const std::uint8_t* frame, std::size_t size);

}  // namespace kvr
