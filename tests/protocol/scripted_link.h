// A ByteLink that plays a fixed byte script and a TransferSink that records,
// both into one journal, so a test sees every read, write, title and line in
// the order the engine did them.
#pragma once

#include "frames.h"
#include "kvr_protocol.h"

#include <cstdio>
#include <string>
#include <vector>

namespace kvr::test {

using Journal = std::vector<std::string>;

inline std::string hex(const std::uint8_t* bytes, std::size_t n) {
    std::string out;
    char buffer[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(buffer, sizeof buffer, i ? " %02X" : "%02X", bytes[i]);
        out += buffer;
    }
    return out;
}
inline std::string hex(const Bytes& bytes) { return hex(bytes.data(), bytes.size()); }

class ScriptedLink : public ByteLink {
public:
    ScriptedLink(Bytes input, Journal& journal, int failAtOperation = -1)
        : input_(std::move(input)), journal_(journal), failAt_(failAtOperation) {}

    bool readExact(std::uint8_t* buffer, std::size_t n) override {
        if (operations_++ == failAt_) return fail("read " + std::to_string(n) + " failed");
        // Running out of script stands for an instrument that went quiet.
        if (position_ + n > input_.size()) return fail("read " + std::to_string(n) + " past the script");
        std::copy(input_.begin() + position_, input_.begin() + position_ + n, buffer);
        position_ += n;
        journal_.push_back("read " + std::to_string(n));
        return true;
    }

    bool write(const std::uint8_t* bytes, std::size_t n) override {
        if (operations_++ == failAt_) return fail("write failed");
        written_.insert(written_.end(), bytes, bytes + n);
        journal_.push_back("write " + hex(bytes, n));
        return true;
    }

    const Bytes& written() const { return written_; }
    std::size_t consumed() const { return position_; }
    int operations() const { return operations_; }

private:
    bool fail(const std::string& event) {
        journal_.push_back(event);
        return false;
    }

    Bytes input_;
    Journal& journal_;
    int failAt_;
    int operations_ = 0;
    std::size_t position_ = 0;
    Bytes written_;
};

class RecordingSink : public TransferSink {
public:
    explicit RecordingSink(Journal& journal) : journal_(journal) {}
    void setTitle(const std::string& text) override { journal_.push_back("title " + text); }
    void addLine(const std::string& text) override { journal_.push_back("line " + text); }

private:
    Journal& journal_;
};

}  // namespace kvr::test
