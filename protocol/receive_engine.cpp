#include "kvr_protocol.h"
#include "progress_title.h"
#include "record_decoder.h"
#include "texts.h"

#include <cstring>

namespace kvr {
namespace {

constexpr std::uint8_t SOH = 0x01;
constexpr std::uint8_t ENQ = 0x05;
constexpr std::uint8_t CR = 0x0D;

constexpr std::uint8_t kSyncS[3] = {ENQ, 'S', CR};
constexpr std::uint8_t kSyncJ[3] = {ENQ, 'J', CR};
constexpr std::uint8_t kEndToken[3] = {ENQ, 'Q', CR};
constexpr std::uint8_t kErrorToken[3] = {ENQ, 'E', CR};

constexpr int kSyncSearchLimit = 100;

bool isToken(const std::uint8_t* bytes, const std::uint8_t (&token)[3]) { return std::memcmp(bytes, token, 3) == 0; }

// Reads single bytes until a start byte, then takes it and the next two as
// the token. The search does not resume after a wrong token: the instrument
// is not speaking our protocol. On success the token has been echoed; on
// failure, failure says how the run ends.
bool FindSync(ByteLink& link, Dialect& dialect, ReceiveOutcome& failure) {
    failure = ReceiveOutcome::Failed;
    std::uint8_t token[3];
    for (int count = 0; count < kSyncSearchLimit; ++count) {
        if (!link.readExact(token, 1)) return false;
        if (token[0] != SOH && token[0] != ENQ) continue;
        if (!link.readExact(token + 1, 2)) return false;
        if (isToken(token, kSyncS)) {
            dialect = Dialect::S;
        } else if (isToken(token, kSyncJ)) {
            dialect = Dialect::J;
        } else {
            failure = ReceiveOutcome::FrameHeadError;
            return false;
        }
        return link.write(token, 3);
    }
    failure = ReceiveOutcome::FrameHeadError;
    return false;
}

}  // namespace

// One frame at a time, finished completely before the next byte is read:
// title, then line, then acknowledgement, then the last-frame test. The
// instrument sends the next frame only after our acknowledgement, so the line
// is in the list before the instrument can move on.
ReceiveOutcome ReceiveEngine::run(ByteLink& link, TransferSink& sink) {
    sink.setTitle(text(TextWaitSync));
    Dialect dialect = Dialect::S;
    ReceiveOutcome failure;
    if (!FindSync(link, dialect, failure)) return failure;

    const std::string progressFormat = text(TextProgress);
    std::uint8_t frame[kMaxFrameLength];
    for (;;) {
        if (!link.readExact(frame, 3)) return ReceiveOutcome::Failed;
        if (isToken(frame, kErrorToken)) return ReceiveOutcome::InstrumentError;
        if (isToken(frame, kEndToken)) return ReceiveOutcome::Completed;
        if (!link.readExact(frame + 3, kHeaderLength - 3)) return ReceiveOutcome::Failed;
        std::size_t body = bodyLength(dialect, frame[9]);
        if (body == 0) return ReceiveOutcome::BadRecordType;
        if (!link.readExact(frame + kHeaderLength, body)) return ReceiveOutcome::Failed;

        std::string line = decodeRecord(dialect, frame, kHeaderLength + body);
        sink.setTitle(FillProgressTitle(progressFormat, frame));
        sink.addLine(line);

        std::uint8_t acknowledgement[kHeaderLength];
        std::memcpy(acknowledgement, frame, kHeaderLength - 1);
        acknowledgement[kHeaderLength - 1] = CR;
        if (!link.write(acknowledgement, kHeaderLength)) return ReceiveOutcome::Failed;
        if (std::memcmp(frame + 1, frame + 5, 4) == 0) return ReceiveOutcome::Completed;
    }
}

}  // namespace kvr
