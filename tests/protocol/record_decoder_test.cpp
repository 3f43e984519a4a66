// One table of frames and the lines they must give. The same table runs in
// the native build and, under Wine, in the Windows build: both must produce
// these lines byte for byte.
#include "frames.h"
#include "record_decoder.h"

#include <gtest/gtest.h>

namespace kvr::test {
namespace {

struct DecodeCase {
    const char* name;
    Dialect dialect;
    std::uint8_t type;
    std::vector<Placement> fields;
    std::string expected;
    std::uint8_t lastByte = '9';
};

// 1e200 in a number field prints 204 characters; the line is cut at 255.
const std::string kCutLine = "MP:  P,Q,0.0000,0.0000,"
         "999999999999999969733122212510361659474503275455023626482417509503468484355540755341963384"
         "047062518680275124159738824081821357343682784846393850410472398778710235910667899818111818"
         "13306167128854888448.000,0.000,0.000,0.000,0.000,0.0";

const std::vector<DecodeCase> kCases = {
    {"job name; the last column is never read", Dialect::S, RecordJob, {{10, "JOB12"}}, "JOB: JOB12", '7'},
    {"blank job name keeps the trailing space", Dialect::J, RecordJob, {}, "JOB: "},
    {"0x00 ends a text", Dialect::S, RecordJob, {{10, std::string("AB\0CD", 5)}}, "JOB: AB"},

    {"station S: numbers print N1 N3 N2 N4", Dialect::S, RecordStation,
     {{10, "  P1001"}, {17, "HI"}, {24, "1"}, {32, "2"}, {44, "3"}, {56, "4"}},
     "STN: P1001,HI,1.000,3.000,2.000,4.000"},
    {"station J: the same record, wider fields", Dialect::J, RecordStation,
     {{10, "  P1001"}, {17, "HI"}, {24, "1"}, {32, "2"}, {45, "3"}, {58, "4"}},
     "STN: P1001,HI,1.000,3.000,2.000,4.000"},
    {"station S: full fields are read apart", Dialect::S, RecordStation,
     {{10, "STATION"}, {17, "INSTRUM"}, {24, "12345.67"}, {32, "1234567.8901"}, {44, "900000000e-3"}, {56, "1234567890e1"}},
     "STN: STATION,INSTRUM,12345.670,900000.000,1234567.890,12345678900.000"},
    {"station J: full fields are read apart", Dialect::J, RecordStation,
     {{10, "STATION"}, {17, "INSTRUM"}, {24, "12345.67"}, {32, "1234567.89012"}, {45, "9000000000e-4"}, {58, "12345678901e0"}},
     "STN: STATION,INSTRUM,12345.670,900000.000,1234567.890,12345678901.000"},

    {"backsight angle 090 15 30", Dialect::S, RecordBacksight, {{10, "STN1"}, {17, "BS1"}, {24, "0901530"}}, "BK:  STN1,BS1,90.1530", '5'},
    {"backsight angle 180 00 00, empty names", Dialect::J, RecordBacksight, {{24, "1800000"}}, "BK:  ,,180.0000", '5'},
    {"blank angle does not reach column 31", Dialect::S, RecordBacksight, {}, "BK:  ,,0.0000", '5'},
    {"five digits leave the third integer without value", Dialect::J, RecordBacksight, {{24, "12345"}}, "BK:  ,,123.4500"},

    {"measured point S: numbers 1 to 8 print N1-N5 N7 N6 N8", Dialect::S, RecordMeasuredPoint,
     {{10, "P1"}, {17, "ST"}, {24, "0901530"}, {31, "1800000"}, {38, "1"}, {47, "2"}, {56, "3"}, {65, "4"}, {73, "5"},
      {81, "6"}, {93, "7"}, {105, "8"}},
     "MP:  P1,ST,90.1530,180.0000,1.000,2.000,3.000,4.000,5.000,7.000,6.000,8.000"},
    {"measured point J: the same record, wider fields", Dialect::J, RecordMeasuredPoint,
     {{10, "P1"}, {17, "ST"}, {24, "0901530"}, {31, "1800000"}, {38, "1"}, {47, "2"}, {56, "3"}, {65, "4"}, {73, "5"},
      {81, "6"}, {94, "7"}, {107, "8"}},
     "MP:  P1,ST,90.1530,180.0000,1.000,2.000,3.000,4.000,5.000,7.000,6.000,8.000"},
    {"neighbours filled to their edges", Dialect::S, RecordMeasuredPoint,
     {{10, "1234567"}, {17, "ABCDEFG"}, {24, "1234567"}, {31, "7654321"}, {56, "123456789"}, {65, "98765432"},
      {73, "12345678"}, {81, "123456789012"}, {93, "210987654321"}, {105, "111111111111"}},
     "MP:  1234567,ABCDEFG,123.4567,765.4321,0.000,0.000,123456789.000,98765432.000,12345678.000,"
     "210987654321.000,123456789012.000,111111111111.000"},
    {"rounding and signs; bytes above 0x7F and the first run of a text", Dialect::S, RecordMeasuredPoint,
     {{10, "\xB5\xE3" "A"}, {17, "AB CD"}, {24, "0451530"}, {31, "-5"}, {38, "-12.3456"}, {47, "5"}, {56, "1234.5678"},
      {65, "2.0625"}, {73, "-0.0004"}, {81, "+7"}, {93, ".5"}, {105, "1."}},
     "MP:  \xB5\xE3" "A,AB,45.1530,-5.0000,-12.346,5.000,1234.568,2.062,-0.000,0.500,7.000,1.000"},
    {"texts without a number; commas and tabs are copied", Dialect::J, RecordMeasuredPoint,
     {{10, "A,B"}, {17, "\tX"}, {24, "12x4567"}, {31, "+x"}, {38, "abc"}, {47, "-"}, {56, "1e"}, {65, "1e3x"},
      {73, "0x1A"}, {81, "inf"}, {94, "1,5"}, {107, "\t5"}},
     "MP:  A,B,\tX,12.0000,0.0000,0.000,0.000,1.000,1000.000,0.000,1.000,0.000,5.000"},
    {"beyond the double range", Dialect::S, RecordMeasuredPoint,
     {{10, "P"}, {17, "Q"}, {38, "1e-999"}, {81, "1e999"}, {93, "-1e999"}},
     "MP:  P,Q,0.0000,0.0000,0.000,0.000,0.000,0.000,0.000,-inf,inf,0.000"},
    {"an exponent that prints hundreds of digits is cut at 255", Dialect::J, RecordMeasuredPoint,
     {{10, "P"}, {17, "Q"}, {38, "1e200"}}, kCutLine},
};

TEST(RecordDecoder, FramesGiveTheirLines) {
    for (const DecodeCase& c : kCases) {
        SCOPED_TRACE(c.name);
        Bytes frame = makeFrame(c.dialect, c.type, c.fields, "0001", "0001", 0x02, c.lastByte);
        Bytes before = frame;
        EXPECT_EQ(decodeRecord(c.dialect, frame.data(), frame.size()), c.expected);
        EXPECT_EQ(frame, before);
    }
}

TEST(RecordDecoder, LineNeverExceeds255) {
    Bytes frame = makeFrame(Dialect::S, RecordMeasuredPoint,
                            {{38, "9e300"}, {47, "9e300"}, {56, "9e300"}, {81, "1e300"}, {93, "1e300"}, {105, "1e300"}});
    std::string line = decodeRecord(Dialect::S, frame.data(), frame.size());
    EXPECT_EQ(line.size(), kMaxLineLength);
    EXPECT_EQ(line.substr(0, 13), "MP:  ,,0.0000");
}

TEST(RecordDecoder, BodyLengths) {
    struct Row { Dialect dialect; int type; std::size_t length; };
    const Row rows[] = {{Dialect::S, 7, 6},   {Dialect::J, 7, 6},    {Dialect::S, 8, 59}, {Dialect::J, 8, 62},
                        {Dialect::S, 9, 22},  {Dialect::J, 9, 22},   {Dialect::S, 10, 108}, {Dialect::J, 10, 111},
                        {Dialect::S, 6, 0},   {Dialect::J, 11, 0},   {Dialect::S, 0, 0}};
    for (const Row& row : rows) EXPECT_EQ(bodyLength(row.dialect, row.type), row.length) << row.type;
}

TEST(RecordDecoder, RejectsShortFramesAndUnknownTypes) {
    Bytes frame = makeFrame(Dialect::J, RecordMeasuredPoint, {{10, "P"}});
    EXPECT_EQ(decodeRecord(Dialect::J, frame.data(), frame.size() - 1), "");
    EXPECT_EQ(decodeRecord(Dialect::J, frame.data(), 9), "");
    frame[9] = 11;
    EXPECT_EQ(decodeRecord(Dialect::J, frame.data(), frame.size()), "");
}

}  // namespace
}  // namespace kvr::test
