// kvr-read: downloads an instrument's records from a serial device and
// prints one line per record, as the desktop tool would list them.
#include "kvr_protocol.h"
#include "posix_serial_link.h"
#include "texts.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace kvr::tools {
namespace {

const char kUsage[] = R"(usage: kvr-read [--quiet] [--output FILE] DEVICE

Waits on DEVICE (1200 baud, 8N1) for a KVR620/KVR680 instrument to send its
records, and writes one line per record to standard output, or appended to
FILE. Progress goes to standard error unless --quiet. Ctrl-C stops the
download; the lines received so far are kept. Messages follow LANG.

Exit status: 0 finished, 1 the port failed, 2 frame head error,
3 the instrument reported an error, 4 unknown record type, 5 stopped,
64 bad usage.
)";

PosixSerialLink* gLink = nullptr;

extern "C" void OnSignal(int) {
    if (gLink) gLink->requestStop();
}

class ConsoleSink : public TransferSink {
public:
    ConsoleSink(std::FILE* out, bool quiet) : out_(out), quiet_(quiet) {}
    void setTitle(const std::string& text) override {
        if (!quiet_) std::fprintf(stderr, "%s\n", text.c_str());
    }
    void addLine(const std::string& text) override {
        std::fprintf(out_, "%s\n", text.c_str());
        std::fflush(out_);  // a line on screen or on disk is never lost to a later failure
    }

private:
    std::FILE* out_;
    bool quiet_;
};

int Run(int argc, char** argv) {
    bool quiet = false;
    std::string output, device;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") return std::fputs(kUsage, stdout), 0;
        if (arg == "--quiet") quiet = true;
        else if (arg == "--output" && i + 1 < argc) output = argv[++i];
        else if (arg[0] != '-' && device.empty()) device = arg;
        else return std::fputs(kUsage, stderr), 64;
    }
    if (device.empty()) return std::fputs(kUsage, stderr), 64;

    std::FILE* out = stdout;
    if (!output.empty() && !(out = std::fopen(output.c_str(), "a"))) {
        std::fprintf(stderr, "kvr-read: %s: %s\n", output.c_str(), std::strerror(errno));
        return 1;
    }
    PosixSerialLink link;
    if (!quiet) std::fprintf(stderr, "%s\n", text(TextOpeningPort).c_str());
    if (!link.open(device)) {
        std::fprintf(stderr, "kvr-read: %s: %s\n", device.c_str(), std::strerror(errno));
        return 1;
    }
    gLink = &link;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    ConsoleSink sink(out, quiet);
    ReceiveOutcome outcome = ReceiveEngine().run(link, sink);
    int error = errno;
    bool stopped = link.stopRequested();
    link.close();
    if (out != stdout) std::fclose(out);

    switch (outcome) {
    case ReceiveOutcome::Completed: std::fprintf(stderr, "%s\n", text(TextReceiveFinished).c_str()); return 0;
    case ReceiveOutcome::FrameHeadError: std::fprintf(stderr, "%s\n", text(TextFrameHeadError).c_str()); return 2;
    case ReceiveOutcome::InstrumentError: std::fprintf(stderr, "%s\n", text(TextInstrumentError).c_str()); return 3;
    case ReceiveOutcome::BadRecordType: std::fprintf(stderr, "%s\n", text(TextBadRecordType).c_str()); return 4;
    case ReceiveOutcome::Failed: break;
    }
    if (stopped) {
        std::fprintf(stderr, "%s\n", text(TextCancelled).c_str());
        return 5;
    }
    std::fprintf(stderr, "kvr-read: %s: %s\n", device.c_str(), std::strerror(error));
    return 1;
}

}  // namespace
}  // namespace kvr::tools

int main(int argc, char** argv) { return kvr::tools::Run(argc, argv); }
