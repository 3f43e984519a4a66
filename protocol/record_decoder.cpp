#include "record_decoder.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kvr {
namespace {

// A field's first and last column in the frame, both included.
struct Columns {
    std::size_t first;
    std::size_t last;
};

// Columns 10 to 23, the same in every record that has them.
constexpr Columns kName1{10, 16};
constexpr Columns kName2{17, 23};
constexpr Columns kJobName{10, 14};
constexpr Columns kAngle1{24, 30};
constexpr Columns kAngle2{31, 37};

// The last three number fields of STN and MP are one column wider in J.
std::size_t wideFieldWidth(Dialect dialect) { return dialect == Dialect::S ? 12 : 13; }

Columns wideField(Dialect dialect, std::size_t start, int index) {
    std::size_t width = wideFieldWidth(dialect);
    std::size_t first = start + index * width;
    return {first, first + width - 1};
}

// The first run of non-space bytes in the field. Only 0x20 is a space; 0x00
// ends the text. The scan never leaves the field's own columns.
std::string cutField(const std::uint8_t* frame, Columns columns) {
    std::size_t column = columns.first;
    while (column <= columns.last && frame[column] == ' ') ++column;
    std::string text;
    while (column <= columns.last && frame[column] != ' ' && frame[column] != 0) text += char(frame[column++]);
    return text;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isSkippedSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// A decimal number the way "%lf" reads one: optional sign, digits with at
// most one point, optional exponent. Only that grammar is accepted, so the
// hexadecimal, "inf" and "nan" forms that the C library would also take give
// no value, and the result is the same on every platform. Only the accepted
// prefix reaches strtod.
struct Number {
    bool present;
    double value;
};

Number readNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && isSkippedSpace(text[i])) ++i;
    std::size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return {false, 0.0};
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        if (j < text.size() && isDigit(text[j])) {
            while (j < text.size() && isDigit(text[j])) ++j;
            i = j;
        }
    }
    std::string accepted = text.substr(start, i - start);
    return {true, std::strtod(accepted.c_str(), nullptr)};
}

// "%.3lf", except that a number without a value prints as 0.000 and one
// beyond the double range as inf or -inf, spelled out here so that both
// builds print the same.
std::string formatNumber(const Number& number) {
    double value = number.present ? number.value : 0.0;
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[400];  // the largest double has 309 digits before the point
    std::snprintf(buffer, sizeof buffer, "%.3f", value);
    return buffer;
}

// Three integers of at most 3, 2 and 2 characters, as "%3d%2d%2d" reads
// them: each skips white space, then takes a sign and digits within its
// width. The first integer without a digit ends the reading; it and those
// after it read as 0.
std::string formatAngle(const std::string& text) {
    static const std::size_t widths[3] = {3, 2, 2};
    int values[3] = {0, 0, 0};
    std::size_t i = 0;
    for (int k = 0; k < 3; ++k) {
        while (i < text.size() && isSkippedSpace(text[i])) ++i;
        std::size_t used = 0;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-', ++used;
        int value = 0;
        std::size_t digits = 0;
        while (used < widths[k] && i < text.size() && isDigit(text[i])) value = value * 10 + (text[i++] - '0'), ++used, ++digits;
        if (digits == 0) break;
        values[k] = negative ? -value : value;
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%d.%02d%02d", values[0], values[1], values[2]);
    return buffer;
}

std::string number(const std::uint8_t* frame, Columns columns) { return formatNumber(readNumber(cutField(frame, columns))); }
std::string angle(const std::uint8_t* frame, Columns columns) { return formatAngle(cutField(frame, columns)); }

std::string stationLine(Dialect dialect, const std::uint8_t* frame) {
    return "STN: " + cutField(frame, kName1) + "," + cutField(frame, kName2) + "," + number(frame, {24, 31}) + "," +
           number(frame, wideField(dialect, 32, 1)) + "," + number(frame, wideField(dialect, 32, 0)) + "," +
           number(frame, wideField(dialect, 32, 2));
}

std::string measuredPointLine(Dialect dialect, const std::uint8_t* frame) {
    static const Columns narrowNumbers[5] = {{38, 46}, {47, 55}, {56, 64}, {65, 72}, {73, 80}};
    std::string line = "MP:  " + cutField(frame, kName1) + "," + cutField(frame, kName2) + "," + angle(frame, kAngle1) +
                       "," + angle(frame, kAngle2);
    for (const Columns& columns : narrowNumbers) line += "," + number(frame, columns);
    // Of the last three numbers the middle one comes first.
    for (int index : {1, 0, 2}) line += "," + number(frame, wideField(dialect, 81, index));
    return line;
}

}  // namespace

std::size_t bodyLength(Dialect dialect, int recordType) {
    switch (recordType) {
    case RecordJob: return 6;
    case RecordStation: return dialect == Dialect::S ? 59 : 62;
    case RecordBacksight: return 22;
    case RecordMeasuredPoint: return dialect == Dialect::S ? 108 : 111;
    default: return 0;
    }
}

std::string decodeRecord(Dialect dialect, const std::uint8_t* frame, std::size_t size) {
    if (size < kHeaderLength) return "";
    std::size_t body = bodyLength(dialect, frame[9]);
    if (body == 0 || size < kHeaderLength + body) return "";
    std::string line;
    switch (frame[9]) {
    case RecordJob: line = "JOB: " + cutField(frame, kJobName); break;
    case RecordStation: line = stationLine(dialect, frame); break;
    case RecordBacksight: line = "BK:  " + cutField(frame, kName1) + "," + cutField(frame, kName2) + "," + angle(frame, kAngle1); break;
    case RecordMeasuredPoint: line = measuredPointLine(dialect, frame); break;
    }
    if (line.size() > kMaxLineLength) line.resize(kMaxLineLength);
    return line;
}

}  // namespace kvr
