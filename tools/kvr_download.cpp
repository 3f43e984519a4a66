// kvr-download: downloads an instrument's records from a serial port and
// writes one line per record, as the desktop tool lists them. A line that
// cannot be stored is never acknowledged, so the instrument keeps its
// record; --raw keeps every byte the instrument sent, and --replay decodes
// such a capture again without a port.
#include "kvr_protocol.h"
#include "kvr_version.h"
#include "texts.h"

#ifdef _WIN32
#include "serial_port_link.h"
#include <io.h>
#include <windows.h>
#else
#include "posix_serial_link.h"
#include <unistd.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kvr::tools {
namespace {

const char kUsage[] = R"(usage: kvr-download [options] PORT
       kvr-download [options] --replay CAPTURE

Waits on PORT (1200 baud, 8N1) for a KVR620/KVR680 instrument to send its
records and writes one line per record to standard output as it arrives.

Options:
  -o FILE        write the lines to FILE instead, as a record list file of
                 the desktop tool (CR LF between lines, none after the last).
                 FILE is written to a temporary file beside it, flushed and
                 renamed into place at the end: a failure never leaves half
                 a file and never destroys an old one.
  --append       with -o: add the lines to an existing list file
  --raw FILE     save every byte that came from the instrument, exactly as
                 received, flushed as it arrives
  --replay FILE  decode such a capture instead of a port: the same lines and
                 the same outcome as the live run; nothing is written
  -q             no progress on standard error
  --version      the program's version
  -h, --help     this text

A line that cannot be written (disk full, closed pipe) stops the transfer
before that record is acknowledged, so the instrument keeps it. On a
terminal, control bytes in a line are shown escaped (\xHH); to a file or a
pipe the bytes are written exactly as they came. Progress ("record 12 of
40") goes to standard error while it is a terminal; a summary of the
records by type and of how the transfer ended always does. Ctrl+C (SIGINT)
or SIGTERM cancel cleanly: the port is closed and every line received so
far is written. Messages follow the locale (LC_ALL, LC_MESSAGES, LANG).

Exit status:
  0    completed
  1    port or link failure
  2    frame head error
  3    instrument error
  4    unknown record type
  64   bad usage
  74   output error
  130  cancelled by SIGINT (Ctrl+C)
  143  cancelled by SIGTERM
)";

enum Exit { ExitCompleted = 0, ExitLink = 1, ExitFrameHead = 2, ExitInstrument = 3, ExitRecordType = 4,
            ExitUsage = 64, ExitOutput = 74, ExitInterrupt = 130, ExitTerminate = 143 };

#ifdef _WIN32
using PortLink = SerialPortLink;
bool IsTerminal(std::FILE* file) { return _isatty(_fileno(file)) != 0; }
std::string LastErrorText() {
    char buffer[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, GetLastError(),
                                  0, buffer, sizeof buffer, nullptr);
    while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n')) buffer[--length] = '\0';
    return buffer;
}
#else
using PortLink = PosixSerialLink;
bool IsTerminal(std::FILE* file) { return isatty(fileno(file)) != 0; }
std::string LastErrorText() { return std::strerror(errno); }
#endif

PortLink* gPort = nullptr;
volatile std::sig_atomic_t gSignal = 0;

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    gSignal = 2;
    if (gPort) gPort->requestStop();
    return TRUE;
}
#else
extern "C" void OnSignal(int number) {
    gSignal = number;
    if (gPort) gPort->requestStop();
}
#endif

// A finished capture, read back as the instrument's side of the line. What
// the receiver writes goes nowhere.
class ReplayLink final : public ByteLink {
public:
    explicit ReplayLink(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    bool readExact(std::uint8_t* buffer, std::size_t n) override {
        if (bytes_.size() - position_ < n) {
            errno = EIO;  // the capture ends here, as the line did
            return false;
        }
        std::memcpy(buffer, bytes_.data() + position_, n);
        position_ += n;
        return true;
    }
    bool write(const std::uint8_t*, std::size_t) override { return true; }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

// Between the engine and the line: keeps every byte read in the capture,
// and remembers the latest header and control token for the progress and
// the summary.
class WatchedLink final : public ByteLink {
public:
    WatchedLink(ByteLink& inner, std::FILE* capture) : inner_(inner), capture_(capture) {}
    bool readExact(std::uint8_t* buffer, std::size_t n) override {
        if (!inner_.readExact(buffer, n)) return false;
        if (capture_ && (std::fwrite(buffer, 1, n, capture_) != n || std::fflush(capture_) != 0)) captureFailed = true;
        if (n == 3) std::memcpy(lastThree, buffer, 3);
        if (n == kHeaderLength - 3) {
            std::memcpy(header, lastThree, 3);
            std::memcpy(header + 3, buffer, n);
        }
        return true;
    }
    bool write(const std::uint8_t* bytes, std::size_t n) override { return inner_.write(bytes, n); }

    std::uint8_t lastThree[3] = {};
    std::uint8_t header[kHeaderLength] = {};
    bool captureFailed = false;

private:
    ByteLink& inner_;
    std::FILE* capture_;
};

std::string Escaped(const std::string& line) {
    std::string shown;
    for (unsigned char byte : line) {
        if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            shown += escape;
        } else {
            shown += char(byte);
        }
    }
    return shown;
}

// Where the lines go: standard output, or the list file being written. A
// line that cannot be written stops the link, so its acknowledgement never
// leaves.
class OutputSink final : public TransferSink {
public:
    OutputSink(std::FILE* out, bool listFile, bool needSeparator, bool progress, WatchedLink& link)
        : out_(out), listFile_(listFile), separator_(needSeparator), progress_(progress), link_(link),
          escape_(!listFile && IsTerminal(out)) {}

    void setTitle(const std::string&) override {}
    void addLine(const std::string& line) override {
        if (failed) return;
        std::string bytes = escape_ ? Escaped(line) : line;
        if (progress_ && escape_) std::fputs("\r\033[K", stderr);  // one terminal: the progress line goes first
        if (listFile_) {
            if (separator_) bytes = "\r\n" + bytes;
            separator_ = true;
        } else {
            bytes += '\n';
        }
        errno = 0;
        if (std::fwrite(bytes.data(), 1, bytes.size(), out_) != bytes.size() || std::fflush(out_) != 0) {
            failed = true;
            error = errno ? std::strerror(errno) : "write failed";
            if (gPort) gPort->requestStop();  // before the engine acknowledges this record
            return;
        }
        count(line);
        if (progress_) {
            std::string total(reinterpret_cast<const char*>(link_.header) + 1, 4);
            total.erase(0, std::min(total.find_first_not_of('0'), total.size() - 1));
            std::fprintf(stderr, "\rrecord %zu of %s", lines, total.c_str());
        }
    }

    std::size_t lines = 0, jobs = 0, stations = 0, backsights = 0, points = 0;
    bool failed = false;
    std::string error;

private:
    void count(const std::string& line) {
        ++lines;
        if (line.rfind("JOB:", 0) == 0) ++jobs;
        else if (line.rfind("STN:", 0) == 0) ++stations;
        else if (line.rfind("BK:", 0) == 0) ++backsights;
        else if (line.rfind("MP:", 0) == 0) ++points;
    }

    std::FILE* out_;
    bool listFile_;
    bool separator_;
    bool progress_;
    WatchedLink& link_;
    bool escape_;
};

struct Options {
    std::string port, output, raw, replay;
    bool append = false, quiet = false;
};

bool ParseOptions(int argc, char** argv, Options& options, int& exitNow) {
    exitNow = -1;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            exitNow = 0;
            return true;
        }
        if (arg == "--version") {
            std::printf("kvr-download %s\n", KVR_VERSION);
            exitNow = 0;
            return true;
        }
        if (arg == "-q") options.quiet = true;
        else if (arg == "--append") options.append = true;
        else if (arg == "-o") { if (!value(options.output)) return false; }
        else if (arg == "--raw") { if (!value(options.raw)) return false; }
        else if (arg == "--replay") { if (!value(options.replay)) return false; }
        else if (!arg.empty() && arg[0] != '-' && options.port.empty()) options.port = arg;
        else return false;
    }
    if (options.port.empty() == options.replay.empty()) return false;  // exactly one source
    if (options.append && options.output.empty()) return false;
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

bool SyncToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
#endif
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

void Say(const std::string& message) { std::fprintf(stderr, "kvr-download: %s\n", message.c_str()); }

int Run(int argc, char** argv) {
    Options options;
    int exitNow;
    if (!ParseOptions(argc, argv, options, exitNow)) {
        std::fputs(kUsage, stderr);
        return ExitUsage;
    }
    if (exitNow >= 0) return exitNow;
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
    std::signal(SIGPIPE, SIG_IGN);  // a closed pipe is a write error, handled as such
#endif

    // The source first: a port that cannot be opened leaves no file behind.
    PortLink port;
    std::vector<std::uint8_t> capture;
    if (!options.replay.empty()) {
        std::string bytes;
        if (!ReadWholeFile(options.replay, bytes)) {
            Say(options.replay + ": " + std::strerror(errno));
            return ExitLink;
        }
        capture.assign(bytes.begin(), bytes.end());
    } else {
        if (!options.quiet && IsTerminal(stderr)) std::fprintf(stderr, "%s\n", text(TextOpeningPort).c_str());
        if (!port.open(options.port)) {
            Say(options.port + ": " + LastErrorText());
            return ExitLink;
        }
        gPort = &port;
    }
#ifndef _WIN32
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
#endif

    std::FILE* raw = nullptr;
    if (!options.raw.empty() && !(raw = std::fopen(options.raw.c_str(), "wb"))) {
        Say(options.raw + ": " + std::strerror(errno));
        return ExitOutput;
    }
    std::FILE* out = stdout;
    std::string temporary;
    bool separator = false;
    if (!options.output.empty()) {
        temporary = options.output + ".kvr-download-tmp";
        std::string old;
        if (options.append && ReadWholeFile(options.output, old)) separator = !old.empty();
        if (!(out = std::fopen(temporary.c_str(), "wb")) ||
            (!old.empty() && std::fwrite(old.data(), 1, old.size(), out) != old.size())) {
            Say(temporary + ": " + std::strerror(errno));
            if (out) std::fclose(out);
            std::remove(temporary.c_str());
            return ExitOutput;
        }
    }

    ReplayLink replay(capture);
    ByteLink& source = options.replay.empty() ? static_cast<ByteLink&>(port) : replay;
    WatchedLink watched(source, raw);
    bool progress = !options.quiet && IsTerminal(stderr);
    OutputSink sink(out, !options.output.empty(), separator, progress, watched);
    ReceiveOutcome outcome = ReceiveEngine().run(watched, sink);
    std::string linkError = LastErrorText();
    port.close();
    gPort = nullptr;
    if (progress && sink.lines) std::fputc('\n', stderr);

    // Everything received so far is kept, whatever ended the transfer.
    bool outputFailed = sink.failed;
    std::string outputError = sink.error;
    if (out != stdout) {
        bool synced = SyncToDisk(out);
        bool closed = std::fclose(out) == 0;
        if (!outputFailed && (!synced || !closed || !MoveIntoPlace(temporary, options.output))) {
            outputFailed = true;
            outputError = std::strerror(errno);
        }
        // The lines before the error were acknowledged: the instrument will
        // not send them again, so they are kept beside the old file.
        if (outputFailed && sink.lines > 0) Say("the " + std::to_string(sink.lines) + " lines received before the error are kept in " + temporary);
        else if (outputFailed) std::remove(temporary.c_str());
    } else if (!outputFailed && std::fflush(stdout) != 0) {
        outputFailed = true;
        outputError = std::strerror(errno);
    }
    if (raw && (std::fclose(raw) != 0 || watched.captureFailed)) Say(options.raw + ": the capture is incomplete");

    std::fprintf(stderr, "records: %zu (%zu JOB, %zu STN, %zu BK, %zu MP)\n", sink.lines, sink.jobs, sink.stations,
                 sink.backsights, sink.points);
    if (outputFailed) {
        std::fprintf(stderr, "ended: output error: %s; the record not written was not acknowledged\n",
                     outputError.c_str());
        return ExitOutput;
    }
    if (gSignal) {
        std::fprintf(stderr, "ended: cancelled (%s)\n", text(TextCancelled).c_str());
#ifdef _WIN32
        return ExitInterrupt;
#else
        return gSignal == SIGTERM ? ExitTerminate : ExitInterrupt;
#endif
    }
    switch (outcome) {
    case ReceiveOutcome::Completed: {
        bool byToken = std::memcmp(watched.lastThree, "\x05Q\r", 3) == 0;
        std::fprintf(stderr, "ended: %s (%s)\n", byToken ? "finished by the instrument" : "last frame",
                     text(TextReceiveFinished).c_str());
        return ExitCompleted;
    }
    case ReceiveOutcome::FrameHeadError: std::fprintf(stderr, "ended: %s\n", text(TextFrameHeadError).c_str()); return ExitFrameHead;
    case ReceiveOutcome::InstrumentError: std::fprintf(stderr, "ended: %s\n", text(TextInstrumentError).c_str()); return ExitInstrument;
    case ReceiveOutcome::BadRecordType: std::fprintf(stderr, "ended: %s\n", text(TextBadRecordType).c_str()); return ExitRecordType;
    case ReceiveOutcome::Failed: break;
    }
    std::fprintf(stderr, "ended: link failure: %s\n",
                 options.replay.empty() ? linkError.c_str() : "the capture ends before the transfer does");
    return ExitLink;
}

}  // namespace
}  // namespace kvr::tools

int main(int argc, char** argv) { return kvr::tools::Run(argc, argv); }
