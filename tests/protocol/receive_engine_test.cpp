// The engine against scripted byte streams. The expected titles are the
// English texts: these tests run with an English locale.
#include "scripted_link.h"
#include "record_decoder.h"

#include <gtest/gtest.h>

namespace kvr::test {
namespace {

const Bytes kSyncS = {0x05, 'S', 0x0D};
const Bytes kSyncJ = {0x05, 'J', 0x0D};
const Bytes kEnd = {0x05, 'Q', 0x0D};
const Bytes kError = {0x05, 'E', 0x0D};

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) append(all, part);
    return all;
}

std::string progress(const std::string& current, const std::string& total) {
    return "title Crurent Proc No. " + current + ", Total " + total + " Points";
}

std::string ack(const Bytes& frame) {
    Bytes bytes(frame.begin(), frame.begin() + 9);
    bytes.push_back(0x0D);
    return "write " + hex(bytes);
}

struct EngineRun {
    ReceiveOutcome outcome;
    Journal journal;
    Bytes written;
    std::size_t consumed;
};

EngineRun runScript(const Bytes& input, int failAt = -1) {
    EngineRun run;
    ScriptedLink link(input, run.journal, failAt);
    RecordingSink sink(run.journal);
    run.outcome = ReceiveEngine().run(link, sink);
    run.written = link.written();
    run.consumed = link.consumed();
    return run;
}

TEST(ReceiveEngine, TwoRecordTransferByteForByte) {
    Bytes job = makeFrame(Dialect::J, RecordJob, {{10, "JOB12"}}, "0002", "0001", 0x41);
    Bytes backsight = makeFrame(Dialect::J, RecordBacksight, {{10, "STN1"}, {17, "BS1"}, {24, "0901530"}}, "0002", "0002", 0x42);
    EngineRun run = runScript(concat({{0x0D}, kSyncJ, job, backsight}));

    EXPECT_EQ(run.outcome, ReceiveOutcome::Completed);
    const Journal expected = {
        "title Wait SyncData",
        "read 1", "read 1", "read 2", "write 05 4A 0D",
        "read 3", "read 7", "read 6",
        progress("0001", "0002"), "line JOB: JOB12", "write 41 30 30 30 32 30 30 30 31 0D",
        "read 3", "read 7", "read 22",
        progress("0002", "0002"), "line BK:  STN1,BS1,90.1530", "write 42 30 30 30 32 30 30 30 32 0D",
    };
    EXPECT_EQ(run.journal, expected);
}

TEST(ReceiveEngine, SyncSearch) {
    const Bytes junk99(99, 'x');
    const Bytes junk100(100, 0x00);
    struct Case {
        const char* name;
        Bytes input;
        ReceiveOutcome outcome;
        Bytes written;
        std::size_t consumed;
    };
    const Case cases[] = {
        {"99 bytes, then sync S", concat({junk99, kSyncS, kEnd}), ReceiveOutcome::Completed, kSyncS, 105},
        {"sync J after a CR", concat({{0x0D}, kSyncJ, kEnd}), ReceiveOutcome::Completed, kSyncJ, 7},
        {"100 bytes without a start byte", concat({junk100, kSyncS}), ReceiveOutcome::FrameHeadError, {}, 100},
        {"SOH starts a token that is no sync", {0x01, 'S', 0x0D}, ReceiveOutcome::FrameHeadError, {}, 3},
        {"a second ENQ is part of the token", {0x05, 0x05, 'S', 0x0D}, ReceiveOutcome::FrameHeadError, {}, 3},
        {"a wrong token is not searched past", concat({{0x05, 'J', 0x0A}, kSyncJ}), ReceiveOutcome::FrameHeadError, {}, 3},
        {"the end token is no sync", kEnd, ReceiveOutcome::FrameHeadError, {}, 3},
        {"the two bytes after a start byte do not count", concat({Bytes(98, 'y'), {0x05, 'S', 0x0D}, kEnd}),
         ReceiveOutcome::Completed, kSyncS, 104},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EngineRun run = runScript(c.input);
        EXPECT_EQ(run.outcome, c.outcome);
        EXPECT_EQ(run.written, c.written);
        EXPECT_EQ(run.consumed, c.consumed);
        EXPECT_EQ(run.journal.front(), "title Wait SyncData");
    }
}

TEST(ReceiveEngine, ControlTokensAndBadRecordTypes) {
    Bytes frame = makeFrame(Dialect::S, RecordJob, {{10, "J1"}}, "0003", "0001");
    Bytes badType = frame;
    struct Case {
        const char* name;
        Bytes input;
        ReceiveOutcome outcome;
        std::vector<std::string> tail;  // the journal after the echo
    };
    auto withType = [&](std::uint8_t type) {
        Bytes header(frame.begin(), frame.begin() + 10);
        header[9] = type;
        return header;
    };
    const Case cases[] = {
        {"end token right after the echo", concat({kSyncS, kEnd}), ReceiveOutcome::Completed, {"read 3"}},
        {"error token right after the echo", concat({kSyncS, kError}), ReceiveOutcome::InstrumentError, {"read 3"}},
        {"error token after a frame", concat({kSyncS, frame, kError}), ReceiveOutcome::InstrumentError,
         {"read 3", "read 7", "read 6", progress("0001", "0003"), "line JOB: J1", ack(frame), "read 3"}},
        {"end token after a frame", concat({kSyncS, frame, kEnd}), ReceiveOutcome::Completed,
         {"read 3", "read 7", "read 6", progress("0001", "0003"), "line JOB: J1", ack(frame), "read 3"}},
        {"record type 6", concat({kSyncS, withType(6), Bytes(200, ' ')}), ReceiveOutcome::BadRecordType, {"read 3", "read 7"}},
        {"record type 11", concat({kSyncS, withType(11), Bytes(200, ' ')}), ReceiveOutcome::BadRecordType, {"read 3", "read 7"}},
        {"record type 0", concat({kSyncS, withType(0)}), ReceiveOutcome::BadRecordType, {"read 3", "read 7"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EngineRun run = runScript(c.input);
        EXPECT_EQ(run.outcome, c.outcome);
        Journal tail(run.journal.begin() + 4, run.journal.end());  // title, two reads, echo
        EXPECT_EQ(tail, Journal(c.tail));
    }
}

TEST(ReceiveEngine, EveryRunStartsWithTheSyncSearch) {
    ReceiveEngine engine;
    Journal journal;
    RecordingSink sink(journal);
    ScriptedLink first(concat({kSyncS, kError}), journal);
    EXPECT_EQ(engine.run(first, sink), ReceiveOutcome::InstrumentError);
    Bytes frame = makeFrame(Dialect::J, RecordMeasuredPoint, {{10, "P1"}}, "0001", "0001");
    ScriptedLink second(concat({kSyncJ, frame}), journal);
    EXPECT_EQ(engine.run(second, sink), ReceiveOutcome::Completed);
    EXPECT_EQ(second.written(), concat({kSyncJ, {0x02, '0', '0', '0', '1', '0', '0', '0', '1', 0x0D}}));
}

TEST(ReceiveEngine, ProgressTitlesAndAcknowledgements) {
    // Bytes 1 to 4 hold 0012, bytes 5 to 8 hold 0003: the running number comes first.
    Bytes frame = makeFrame(Dialect::S, RecordStation, {{10, "S1"}}, "0012", "0003", 0x20);
    EngineRun run = runScript(concat({kSyncS, frame}));
    EXPECT_EQ(run.outcome, ReceiveOutcome::Failed);  // the script ends while it waits for the next frame
    const Journal tail = {progress("0003", "0012"), "line STN: S1,,0.000,0.000,0.000,0.000",
                          "write 20 30 30 31 32 30 30 30 33 0D", "read 3 past the script"};
    EXPECT_EQ(Journal(run.journal.end() - 4, run.journal.end()), tail);

    // A 0x00 among the counters ends the title there.
    Bytes cutInCurrent = makeFrame(Dialect::S, RecordJob, {}, "0012", std::string("0\0" "03", 4));
    Bytes cutInTotal = makeFrame(Dialect::S, RecordJob, {}, std::string("00\0" "2", 4), "0003");
    run = runScript(concat({kSyncS, cutInCurrent, cutInTotal}));
    EXPECT_EQ(run.journal[7], "title Crurent Proc No. 0");
    EXPECT_EQ(run.journal[13], "title Crurent Proc No. 0003, Total 00");
}

TEST(ReceiveEngine, LastFrameEndsWithoutAnotherRead) {
    Bytes last = makeFrame(Dialect::J, RecordMeasuredPoint, {{10, "P9"}}, "0001", "0001");
    EngineRun run = runScript(concat({kSyncJ, last, kEnd}));
    EXPECT_EQ(run.outcome, ReceiveOutcome::Completed);
    EXPECT_EQ(run.journal.back(), ack(last));
    EXPECT_EQ(run.consumed, kSyncJ.size() + last.size());
}

// A job of four frames, failed at each of its link operations in turn: the
// run ends Failed at once, and nothing is read, written or shown after it.
TEST(ReceiveEngine, LinkFailureAtEveryOperation) {
    Bytes script = concat({{'z'}, kSyncS,
                           makeFrame(Dialect::S, RecordJob, {{10, "J"}}, "0004", "0001"),
                           makeFrame(Dialect::S, RecordStation, {{10, "S"}}, "0004", "0002"),
                           makeFrame(Dialect::S, RecordBacksight, {{10, "B"}}, "0004", "0003"),
                           makeFrame(Dialect::S, RecordMeasuredPoint, {{10, "M"}}, "0004", "0004")});
    Journal clean;
    ScriptedLink counter(script, clean);
    RecordingSink sink(clean);
    ASSERT_EQ(ReceiveEngine().run(counter, sink), ReceiveOutcome::Completed);
    ASSERT_EQ(counter.operations(), 3 + 1 + 4 * 4);

    for (int failAt = 0; failAt < counter.operations(); ++failAt) {
        SCOPED_TRACE(failAt);
        EngineRun run = runScript(script, failAt);
        EXPECT_EQ(run.outcome, ReceiveOutcome::Failed);
        const std::string& last = run.journal.back();
        EXPECT_TRUE(last.size() > 6 && last.compare(last.size() - 6, 6, "failed") == 0) << last;
    }
}

}  // namespace
}  // namespace kvr::test
