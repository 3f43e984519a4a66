#include "record_decoder.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kvr {
namespace {

constexpr FieldColumns T(std::size_t first, std::size_t last) { return {first, last, FieldKind::Characters}; }
constexpr FieldColumns N(std::size_t first, std::size_t last) { return {first, last, FieldKind::Number}; }
constexpr FieldColumns A(std::size_t first, std::size_t last) { return {first, last, FieldKind::Angle}; }

// The last three numbers of STN and MP: 12 columns each in S, 13 in J.
void appendWideNumbers(std::vector<FieldColumns>& fields, Dialect dialect, std::size_t start) {
    std::size_t width = dialect == Dialect::S ? 12 : 13;
    for (std::size_t i = 0; i < 3; ++i) fields.push_back(N(start + i * width, start + (i + 1) * width - 1));
}

// The first run of non-space bytes in the field. Only 0x20 is a space; 0x00
// ends the text. The scan never leaves the field's own columns.
std::string cutField(const std::uint8_t* frame, const FieldColumns& columns) {
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

std::string formatField(const std::uint8_t* frame, const FieldColumns& field) {
    std::string text = cutField(frame, field);
    switch (field.kind) {
    case FieldKind::Number: return formatNumber(readNumber(text));
    case FieldKind::Angle: return formatAngle(text);
    case FieldKind::Characters: break;
    }
    return text;
}

// Line prefix and the fields in the order the line prints them. Of the last
// three numbers of STN and MP the middle one comes first.
struct LineFormat {
    const char* prefix;
    std::vector<int> order;
};

LineFormat lineFormat(int recordType) {
    switch (recordType) {
    case RecordJob: return {"JOB: ", {0}};
    case RecordStation: return {"STN: ", {0, 1, 2, 4, 3, 5}};
    case RecordBacksight: return {"BK:  ", {0, 1, 2}};
    default: return {"MP:  ", {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 9, 11}};
    }
}

}  // namespace

std::vector<FieldColumns> recordLayout(Dialect dialect, int recordType) {
    switch (recordType) {
    case RecordJob: return {T(10, 14)};
    case RecordStation: {
        std::vector<FieldColumns> fields = {T(10, 16), T(17, 23), N(24, 31)};
        appendWideNumbers(fields, dialect, 32);
        return fields;
    }
    case RecordBacksight: return {T(10, 16), T(17, 23), A(24, 30)};
    case RecordMeasuredPoint: {
        std::vector<FieldColumns> fields = {T(10, 16), T(17, 23), A(24, 30), A(31, 37), N(38, 46),
                                            N(47, 55), N(56, 64), N(65, 72), N(73, 80)};
        appendWideNumbers(fields, dialect, 81);
        return fields;
    }
    default: return {};
    }
}

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
    std::vector<FieldColumns> fields = recordLayout(dialect, frame[9]);
    LineFormat format = lineFormat(frame[9]);
    std::string line = format.prefix;
    for (std::size_t i = 0; i < format.order.size(); ++i) {
        if (i > 0) line += ',';
        line += formatField(frame, fields[format.order[i]]);
    }
    if (line.size() > kMaxLineLength) line.resize(kMaxLineLength);
    return line;
}

}  // namespace kvr
