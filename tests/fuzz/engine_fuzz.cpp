// The receive engine against any bytes an instrument could send, checked
// against the protocol's rules as a separate, plain model of them states
// them: what is echoed and acknowledged, in which order, how the run ends,
// and that no read goes past the frame it belongs to.
//
// Input: byte 0 picks a write that fails (1 to 40: that write; otherwise
// none), the rest is what the instrument sends.
#include "fuzz_check.h"
#include "kvr_protocol.h"
#include "record_decoder.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using kvr::ReceiveOutcome;

constexpr std::uint8_t SOH = 0x01, ENQ = 0x05, CR = 0x0D;

class FuzzLink : public kvr::ByteLink {
public:
    FuzzLink(const std::uint8_t* data, std::size_t size, int failingWrite)
        : data_(data), size_(size), failingWrite_(failingWrite) {}
    bool readExact(std::uint8_t* buffer, std::size_t n) override {
        if (position_ + n > size_) return false;  // the instrument went quiet
        std::memcpy(buffer, data_ + position_, n);
        position_ += n;
        return true;
    }
    bool write(const std::uint8_t* bytes, std::size_t n) override {
        if (++writes_ == failingWrite_) return false;
        written.insert(written.end(), bytes, bytes + n);
        return true;
    }
    std::size_t consumed() const { return position_; }
    Bytes written;

private:
    const std::uint8_t* data_;
    std::size_t size_;
    int failingWrite_;
    int writes_ = 0;
    std::size_t position_ = 0;
};

class FuzzSink : public kvr::TransferSink {
public:
    void setTitle(const std::string&) override { ++titles; }
    void addLine(const std::string& text) override { lines.push_back(text); }
    int titles = 0;
    std::vector<std::string> lines;
};

// The protocol as the instrument's documentation puts it.
struct Expected {
    ReceiveOutcome outcome = ReceiveOutcome::Failed;
    Bytes written;
    std::size_t consumed = 0;
    std::size_t frames = 0;
};

std::size_t Body(bool dialectJ, std::uint8_t type) {
    switch (type) {
    case 7: return 6;
    case 8: return dialectJ ? 62 : 59;
    case 9: return 22;
    case 10: return dialectJ ? 111 : 108;
    default: return 0;
    }
}

Expected Model(const std::uint8_t* in, std::size_t size, int failingWrite) {
    Expected e;
    std::size_t& at = e.consumed;
    int writes = 0;
    auto write = [&](const std::uint8_t* bytes, std::size_t n) {
        if (++writes == failingWrite) return false;
        e.written.insert(e.written.end(), bytes, bytes + n);
        return true;
    };
    // Up to 100 single bytes until a start byte; it and the next two are the token.
    bool dialectJ = false;
    int searched = 0;
    for (;;) {
        if (searched == 100) return e.outcome = ReceiveOutcome::FrameHeadError, e;
        if (at + 1 > size) return e;
        std::uint8_t first = in[at++];
        ++searched;
        if (first != SOH && first != ENQ) continue;
        if (at + 2 > size) return e;
        std::uint8_t token[3] = {first, in[at], in[at + 1]};
        at += 2;
        if (token[0] != ENQ || token[2] != CR || (token[1] != 'S' && token[1] != 'J'))
            return e.outcome = ReceiveOutcome::FrameHeadError, e;
        dialectJ = token[1] == 'J';
        if (!write(token, 3)) return e;
        break;
    }
    for (;;) {
        if (at + 3 > size) return e;
        const std::uint8_t* frame = in + at;
        at += 3;
        if (frame[0] == ENQ && frame[1] == 'E' && frame[2] == CR) return e.outcome = ReceiveOutcome::InstrumentError, e;
        if (frame[0] == ENQ && frame[1] == 'Q' && frame[2] == CR) return e.outcome = ReceiveOutcome::Completed, e;
        if (at + 7 > size) return e;
        at += 7;
        std::size_t body = Body(dialectJ, frame[9]);
        if (body == 0) return e.outcome = ReceiveOutcome::BadRecordType, e;
        if (at + body > size) return e;
        at += body;
        ++e.frames;
        std::uint8_t ack[10];
        std::memcpy(ack, frame, 9);
        ack[9] = CR;
        if (!write(ack, 10)) return e;
        if (std::memcmp(frame + 1, frame + 5, 4) == 0) return e.outcome = ReceiveOutcome::Completed, e;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    int failingWrite = data[0] >= 1 && data[0] <= 40 ? data[0] : 0;
    const std::uint8_t* in = data + 1;
    std::size_t n = size - 1;

    FuzzLink link(in, n, failingWrite);
    FuzzSink sink;
    ReceiveOutcome outcome = kvr::ReceiveEngine().run(link, sink);

    Expected expected = Model(in, n, failingWrite);
    FUZZ_CHECK(outcome == expected.outcome);
    // Exactly the echo and the acknowledgements, nothing after a fault, a
    // token or the last frame; and not one byte read beyond what the frame
    // or token in hand needs.
    FUZZ_CHECK(link.written == expected.written);
    FUZZ_CHECK(link.consumed() == expected.consumed);
    // One title for the sync wait, then a title and a line for every frame
    // read whole, each before its acknowledgement.
    FUZZ_CHECK(sink.lines.size() == expected.frames);
    FUZZ_CHECK(sink.titles == int(1 + expected.frames));
    for (const std::string& line : sink.lines) FUZZ_CHECK(line.size() <= kvr::kMaxLineLength);
    return 0;
}
