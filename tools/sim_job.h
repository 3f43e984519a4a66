// The records a simulated instrument sends, and the frames they become.
#pragma once

#include "kvr_protocol.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kvr::tools {

struct SimRecord {
    int type;                         // 7 JOB, 8 STN, 9 BK, 10 MP
    std::vector<std::string> fields;  // in column order; "" leaves a field blank
};

// A plausible job: one JOB, one station, one backsight and 36 measured points
// with angles, distances and coordinates that agree with each other.
std::vector<SimRecord> SampleJob();

// Reads records from a text file, one per line:
//   JOB name
//   STN name code height n2 n3 n4
//   BK  station target angle
//   MP  point code hangle vangle n1 n2 n3 n4 n5 n6 n7 n8
// Fields are separated by white space, "-" is a blank field, angles are
// written DDDMMSS, and "#" starts a comment. Character fields are placed at
// the left of their columns, numbers and angles at the right.
bool ReadRecordFile(const std::string& path, std::vector<SimRecord>& records, std::string& error);

// The frame for record index of count: header byte 0, the total (bytes 1 to
// 4), the running number (bytes 5 to 8), the type, then the body. Fails when
// a field does not fit its columns or the field count is wrong.
bool BuildFrame(Dialect dialect, const SimRecord& record, int index, int count, std::vector<std::uint8_t>& frame,
                std::string& error);

}  // namespace kvr::tools
