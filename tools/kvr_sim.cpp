// kvr-sim: a simulated KVR620/KVR680 instrument. It plays the instrument's
// side of the download protocol on a pseudo-terminal or a serial device,
// checks every byte the receiver answers, and can misbehave on demand.
#include "kvr_version.h"
#include "pty.h"
#include "record_decoder.h"
#include "sim_job.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace kvr::tools {
namespace {

using Bytes = std::vector<std::uint8_t>;

const char kUsage[] = R"(usage: kvr-sim [options]

Plays a KVR620/KVR680 total station sending its stored records.

Connection:
  --pty [PATH]          create a pseudo-terminal (the default) and print its
                        path; with PATH, also make PATH a symbolic link to it
                        (only a link is ever replaced; it is removed at exit)
  --device PATH         use an existing serial device instead (1200 8N1)
  --sessions N          serve N downloads one after the other (default 1,
                        0 = until killed); each starts when a receiver opens
                        the port

Data:
  --dialect S|J         protocol dialect (default S)
  --records FILE        send the records in FILE instead of the sample job.
                        One record per line, fields separated by spaces,
                        "-" for a blank field, angles as DDDMMSS, # comments:
                          JOB name
                          STN name code height n2 n3 n4
                          BK  station target angle
                          MP  point code hangle vangle n1 n2 n3 n4 n5 n6 n7 n8
  --print-lines FILE    write the lines the receiver must show, one per line
  --play FILE           play a capture (kvr-download --raw) back instead: its
                        bytes, in its order, frame by frame, with the
                        receiver's answers checked as usual

Timing:
  --baud 1200           pace the bytes at that rate, 10 bits a byte
                        (default: full speed)
  --start-delay MS      pause after the receiver opens the port (default 300)
  --timeout S           longest wait for an echo, an acknowledgement or the
                        receiver to let go of the port (default 10)

Faults:
  --garbage N           send N noise bytes before the sync (never 0x01, 0x05);
                        100 or more must end in a frame head error
  --soh                 start with SOH 'S' CR instead of the sync token
  --wrong-token         send ENQ 'X' CR instead of the sync token
  --error-after N       send the error token after N frames
  --bad-type-after N    after N frames, send a header with record type 11
  --stall-after N       after N frames, send half a frame and go quiet
  --end-instead-of-last send the end token in place of the last frame
  --hangup-after N      after N frames and half of the next, close the line

  --version             print the version and end

The receiver's echo and acknowledgements are checked byte for byte; after a
fault or the end it must write nothing more. At the end the acknowledgement
latency (last byte of a frame sent to acknowledgement received) is printed.

Exit status: 0 the session went as planned, 1 bad usage or setup, 2 the
receiver broke the protocol, 3 the receiver went silent or away.
)";

constexpr std::uint8_t ENQ = 0x05, SOH = 0x01, CR = 0x0D;

struct Options {
    std::string ptyLink;
    std::string device;
    Dialect dialect = Dialect::S;
    std::string recordsFile;
    std::string printLines;
    std::string playFile;
    int baud = 0;
    int startDelayMs = 300;
    int timeoutSeconds = 10;
    int sessions = 1;
    int garbage = 0;
    bool soh = false;
    bool wrongToken = false;
    int errorAfter = -1;
    int badTypeAfter = -1;
    int stallAfter = -1;
    int hangupAfter = -1;
    bool endInsteadOfLast = false;
};

enum Status { Ok = 0, Usage = 1, Violation = 2, Gone = 3 };

void Say(const std::string& message) { std::fprintf(stderr, "kvr-sim: %s\n", message.c_str()); }

std::string Hex(const Bytes& bytes) {
    std::string out;
    char buffer[4];
    for (std::uint8_t byte : bytes) {
        std::snprintf(buffer, sizeof buffer, "%02X ", byte);
        out += buffer;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

double NowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The instrument's end of the line.
class Line {
public:
    Line(int fd, bool isPty, int baud) : fd_(fd), isPty_(isPty), baud_(baud) {}

    bool send(const Bytes& bytes) {
        if (baud_ <= 0) return writeAll(bytes.data(), bytes.size());
        // Pace at 10 bits a byte on an absolute schedule, so sleeps don't drift.
        const long periodNs = 10L * 1000000000L / baud_;
        timespec next;
        clock_gettime(CLOCK_MONOTONIC, &next);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (!writeAll(&bytes[i], 1)) return false;
            if (i + 1 == bytes.size()) break;  // the caller times what follows the last byte
            next.tv_nsec += periodNs;
            while (next.tv_nsec >= 1000000000L) next.tv_nsec -= 1000000000L, ++next.tv_sec;
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        }
        return true;
    }

    // Reads exactly n bytes. Status Gone on timeout or when the receiver let go.
    Status receive(Bytes& out, std::size_t n, int timeoutMs) {
        out.clear();
        double deadline = NowMs() + timeoutMs;
        while (out.size() < n) {
            int left = int(deadline - NowMs());
            if (left <= 0) return Gone;
            pollfd fd = {fd_, POLLIN, 0};
            int ready = poll(&fd, 1, std::min(left, 50));
            if (ready < 0 && errno != EINTR) return Gone;
            if (ready <= 0) continue;
            std::uint8_t buffer[64];
            ssize_t count = read(fd_, buffer, std::min(sizeof buffer, n - out.size()));
            if (count > 0) out.insert(out.end(), buffer, buffer + count);
            else if (count == 0 || (errno != EAGAIN && errno != EINTR)) return Gone;  // EIO: no receiver
        }
        return Ok;
    }

    // After a fault or the end: the receiver must write nothing more and, on
    // a pty, let go of the port.
    Status expectSilence(const std::string& after, int timeoutMs) {
        double deadline = NowMs() + timeoutMs;
        for (;;) {
            pollfd fd = {fd_, POLLIN, 0};
            int ready = poll(&fd, 1, 20);
            if (ready > 0 && (fd.revents & POLLIN)) {
                std::uint8_t buffer[64];
                ssize_t count = read(fd_, buffer, sizeof buffer);
                if (count > 0) {
                    Say("the receiver wrote " + Hex(Bytes(buffer, buffer + count)) + " after " + after);
                    return Violation;
                }
            }
            if (isPty_ && !ReceiverAttached(fd_)) return Ok;
            if (NowMs() > deadline) {
                if (!isPty_) return Ok;
                Say("the receiver still holds the port " + std::to_string(timeoutMs / 1000) + " s after " + after);
                return Gone;
            }
        }
    }

private:
    bool writeAll(const std::uint8_t* bytes, std::size_t n) {
        while (n > 0) {
            ssize_t count = write(fd_, bytes, n);
            if (count < 0 && errno == EINTR) continue;
            if (count < 0 && errno == EAGAIN) {
                pollfd fd = {fd_, POLLOUT, 0};
                poll(&fd, 1, 100);
                continue;
            }
            if (count <= 0) return false;
            bytes += count;
            n -= std::size_t(count);
        }
        return true;
    }

    int fd_;
    bool isPty_;
    int baud_;
};

struct Latencies {
    std::vector<double> samples;
    void report() const {
        if (samples.empty()) return;
        std::vector<double> sorted = samples;
        std::sort(sorted.begin(), sorted.end());
        double median = sorted.size() % 2 ? sorted[sorted.size() / 2]
                                          : (sorted[sorted.size() / 2 - 1] + sorted[sorted.size() / 2]) / 2;
        // The 99th percentile by the nearest rank.
        double p99 = sorted[std::min(sorted.size() - 1, (sorted.size() * 99 + 99) / 100 - 1)];
        char line[200];
        std::snprintf(line, sizeof line,
                      "acknowledgement latency over %zu frames: median %.2f ms, 99th percentile %.2f ms, max %.2f ms",
                      sorted.size(), median, p99, sorted.back());
        Say(line);
    }
};

// The receiver's echo of the sync token.
Status ExpectEcho(Line& line, const Bytes& token, int timeoutMs) {
    Bytes answer;
    if (line.receive(answer, 3, timeoutMs) != Ok) {
        Say("no echo of the sync token");
        return Gone;
    }
    if (answer != token) {
        Say("the echo was " + Hex(answer) + ", expected " + Hex(token));
        return Violation;
    }
    return Ok;
}

// Sends a record frame and checks its acknowledgement: the header's first
// nine bytes and CR.
Status ExchangeFrame(Line& line, const Bytes& frame, const std::string& position, int timeoutMs, Latencies& latencies) {
    if (!line.send(frame)) return Gone;
    double sent = NowMs();
    Bytes answer;
    if (line.receive(answer, kHeaderLength, timeoutMs) != Ok) {
        Say("no acknowledgement for " + position);
        return Gone;
    }
    latencies.samples.push_back(NowMs() - sent);
    Bytes expected(frame.begin(), frame.begin() + kHeaderLength - 1);
    expected.push_back(CR);
    if (answer != expected) {
        Say("the acknowledgement of " + position + " was " + Hex(answer) + ", expected " + Hex(expected));
        return Violation;
    }
    return Ok;
}

Bytes Half(const Bytes& frame) { return Bytes(frame.begin(), frame.begin() + frame.size() / 2); }

// One download, from the sync token to the receiver letting go.
Status PlaySession(Line& line, const Options& options, const std::vector<Bytes>& frames, Latencies& latencies) {
    const int timeoutMs = options.timeoutSeconds * 1000;
    Bytes noise;
    for (int i = 0; i < options.garbage; ++i) noise.push_back(std::uint8_t("~#x\r\n7A"[i % 7]));
    const std::uint8_t tokenLetter = options.dialect == Dialect::S ? 'S' : 'J';
    Bytes sync = {ENQ, tokenLetter, CR};
    Bytes opening = options.soh ? Bytes{SOH, 'S', CR} : options.wrongToken ? Bytes{ENQ, 'X', CR} : sync;
    Bytes start = noise;
    start.insert(start.end(), opening.begin(), opening.end());
    if (!line.send(start)) return Gone;
    if (options.soh || options.wrongToken || options.garbage >= 100) return line.expectSilence("a bad sync", timeoutMs);

    if (Status echo = ExpectEcho(line, sync, timeoutMs); echo != Ok) return echo;

    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Bytes& frame = frames[i];
        std::string position = "frame " + std::to_string(i + 1);
        if (int(i) == options.errorAfter) {
            line.send({ENQ, 'E', CR});
            return line.expectSilence("the error token", timeoutMs);
        }
        if (int(i) == options.badTypeAfter) {
            Bytes header(frame.begin(), frame.begin() + kHeaderLength);
            header[9] = 11;
            line.send(header);
            return line.expectSilence("a header of record type 11", timeoutMs);
        }
        if (int(i) == options.stallAfter) {
            line.send(Half(frame));
            Say("stalled in " + position);
            return line.expectSilence("the stall", timeoutMs);
        }
        if (int(i) == options.hangupAfter) {
            line.send(Half(frame));
            Say("hanging up in " + position);
            return Ok;  // the caller closes the line
        }
        if (options.endInsteadOfLast && i + 1 == frames.size()) {
            line.send({ENQ, 'Q', CR});
            return line.expectSilence("the end token", timeoutMs);
        }
        if (Status exchanged = ExchangeFrame(line, frame, position, timeoutMs, latencies); exchanged != Ok) return exchanged;
    }
    return line.expectSilence("the last frame", timeoutMs);
}

// A capture as the instrument sent it: the bytes up to and with the sync
// token, then each frame or control token; whatever follows the last whole
// piece is a fragment the instrument sent before it stopped.
struct Capture {
    Bytes start;
    bool validSync = false;
    Dialect dialect = Dialect::S;
    std::vector<Bytes> pieces;  // frames, tokens, or a last fragment
};

Capture SplitCapture(const Bytes& bytes) {
    Capture capture;
    std::size_t i = 0;
    while (i < bytes.size() && i < 100 && bytes[i] != SOH && bytes[i] != ENQ) ++i;
    std::size_t end = std::min(bytes.size(), i + 3);
    capture.start.assign(bytes.begin(), bytes.begin() + end);
    if (end - i == 3 && bytes[i] == ENQ && bytes[i + 2] == CR && (bytes[i + 1] == 'S' || bytes[i + 1] == 'J')) {
        capture.validSync = true;
        capture.dialect = bytes[i + 1] == 'S' ? Dialect::S : Dialect::J;
    }
    for (i = end; capture.validSync && i < bytes.size();) {
        std::size_t left = bytes.size() - i;
        std::size_t size = left;
        if (left >= 3 && bytes[i] == ENQ && bytes[i + 2] == CR) size = 3;
        else if (left >= kHeaderLength) {
            std::size_t body = bodyLength(capture.dialect, bytes[i + 9]);
            size = body == 0 ? kHeaderLength : std::min(left, kHeaderLength + body);
        }
        capture.pieces.emplace_back(bytes.begin() + long(i), bytes.begin() + long(i + size));
        i += size;
    }
    return capture;
}

// Plays a capture: each whole frame is acknowledged as usual; a token, a
// bad header or a fragment ends the session, after which the receiver must
// be silent.
Status PlayCapture(Line& line, const Capture& capture, int timeoutMs, Latencies& latencies) {
    if (!line.send(capture.start)) return Gone;
    if (!capture.validSync) return line.expectSilence("the capture's bad sync", timeoutMs);
    Bytes token(capture.start.end() - 3, capture.start.end());
    if (Status echo = ExpectEcho(line, token, timeoutMs); echo != Ok) return echo;
    for (std::size_t n = 0; n < capture.pieces.size(); ++n) {
        const Bytes& piece = capture.pieces[n];
        bool frame = piece.size() > kHeaderLength &&
                     piece.size() == kHeaderLength + bodyLength(capture.dialect, piece[9]);
        std::string position = "piece " + std::to_string(n + 1) + " of the capture";
        if (!frame) {
            if (!line.send(piece)) return Gone;
            return line.expectSilence(position, timeoutMs);
        }
        if (Status exchanged = ExchangeFrame(line, piece, position, timeoutMs, latencies); exchanged != Ok) return exchanged;
        if (std::equal(piece.begin() + 1, piece.begin() + 5, piece.begin() + 5)) return line.expectSilence("the last frame", timeoutMs);
    }
    return line.expectSilence("the end of the capture", timeoutMs);
}

// The link made by --pty goes when the simulator does, also when it is
// stopped by a signal.
char gLinkPath[4096] = {};

void RemoveLink() {
    if (gLinkPath[0]) unlink(gLinkPath);
}

extern "C" void OnStopSignal(int number) {
    RemoveLink();
    _exit(128 + number);
}

int NumberArgument(int& i, int argc, char** argv, long largest = 2147483647L) {
    if (i + 1 >= argc) throw std::string(argv[i]) + " needs a number";
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(argv[++i], &end, 10);
    if (end == argv[i] || *end != '\0' || value < 0 || errno == ERANGE || value > largest)
        throw std::string(argv[i - 1]) + " needs a number from 0 to " + std::to_string(largest);
    return int(value);
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto text = [&]() -> std::string {
            if (i + 1 >= argc) throw arg + " needs a value";
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (arg == "--version") {
            std::printf("kvr-sim %s\n", KVR_VERSION);
            std::exit(0);
        } else if (arg == "--pty") {
            if (i + 1 < argc && argv[i + 1][0] != '-') options.ptyLink = argv[++i];
        } else if (arg == "--device") options.device = text();
        else if (arg == "--sessions") options.sessions = NumberArgument(i, argc, argv);
        else if (arg == "--dialect") {
            std::string value = text();
            if (value != "S" && value != "J") throw std::string("--dialect is S or J");
            options.dialect = value == "S" ? Dialect::S : Dialect::J;
        } else if (arg == "--records") options.recordsFile = text();
        else if (arg == "--print-lines") options.printLines = text();
        else if (arg == "--play") options.playFile = text();
        else if (arg == "--baud") options.baud = NumberArgument(i, argc, argv);
        else if (arg == "--start-delay") options.startDelayMs = NumberArgument(i, argc, argv);
        else if (arg == "--timeout") options.timeoutSeconds = NumberArgument(i, argc, argv, 2147483L);  // in ms it must fit
        else if (arg == "--garbage") options.garbage = NumberArgument(i, argc, argv);
        else if (arg == "--soh") options.soh = true;
        else if (arg == "--wrong-token") options.wrongToken = true;
        else if (arg == "--error-after") options.errorAfter = NumberArgument(i, argc, argv);
        else if (arg == "--bad-type-after") options.badTypeAfter = NumberArgument(i, argc, argv);
        else if (arg == "--stall-after") options.stallAfter = NumberArgument(i, argc, argv);
        else if (arg == "--end-instead-of-last") options.endInsteadOfLast = true;
        else if (arg == "--hangup-after") options.hangupAfter = NumberArgument(i, argc, argv);
        else throw "unknown option " + arg + " (see --help)";
    }
    return options;
}

int OpenDevice(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    termios settings;
    bool ok = tcgetattr(fd, &settings) == 0;
    if (ok) {
        cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD;
        cfsetispeed(&settings, B1200);
        cfsetospeed(&settings, B1200);
        ok = tcsetattr(fd, TCSANOW, &settings) == 0;
    }
    if (!ok) {
        int error = errno;
        close(fd);  // not left open behind a failed setup
        errno = error;
        return -1;
    }
    return fd;
}

int Run(int argc, char** argv) {
    Options options;
    try {
        options = ParseOptions(argc, argv);
    } catch (const std::string& message) {
        Say(message);
        return Usage;
    }
    std::string error;
    std::vector<SimRecord> records = SampleJob();
    if (!options.recordsFile.empty()) {
        records.clear();
        if (!ReadRecordFile(options.recordsFile, records, error)) return Say(error), Usage;
    }
    Capture capture;
    if (!options.playFile.empty()) {
        std::ifstream file(options.playFile, std::ios::binary);
        if (!file) return Say("cannot read " + options.playFile), Usage;
        capture = SplitCapture(Bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>()));
    }
    std::vector<Bytes> frames;
    for (std::size_t i = 0; i < records.size(); ++i) {
        Bytes frame;
        if (!BuildFrame(options.dialect, records[i], int(i), int(records.size()), frame, error)) return Say(error), Usage;
        frames.push_back(frame);
    }
    if (!options.printLines.empty()) {
        std::ofstream out(options.printLines, std::ios::binary);
        for (const Bytes& frame : frames) out << decodeRecord(options.dialect, frame.data(), frame.size()) << '\n';
        if (!out) return Say("cannot write " + options.printLines), Usage;
    }

    if (!options.ptyLink.empty() && options.device.empty()) {
        std::snprintf(gLinkPath, sizeof gLinkPath, "%s", options.ptyLink.c_str());
        std::signal(SIGTERM, OnStopSignal);
        std::signal(SIGINT, OnStopSignal);
        std::signal(SIGHUP, OnStopSignal);
    }
    Status result = Ok;
    for (int session = 0; options.sessions == 0 || session < options.sessions; ++session) {
        bool isPty = options.device.empty();
        Pty pty;
        int fd;
        if (isPty) {
            // A fresh pty per session: a hang-up or a stale byte never carries over.
            if (!OpenPty(pty, options.ptyLink, error)) {
                if (session > 0) RemoveLink();
                gLinkPath[0] = '\0';  // not ours
                return Say(error), Usage;
            }
            fd = pty.master;
            std::printf("%s\n", pty.slavePath.c_str());
            std::fflush(stdout);
            WaitForReceiver(fd, true, -1);
        } else {
            fd = OpenDevice(options.device);
            if (fd < 0) return Say("cannot open " + options.device + ": " + std::strerror(errno)), Usage;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(options.startDelayMs));
        Line line(fd, isPty, options.baud);
        Latencies latencies;
        Status status = options.playFile.empty() ? PlaySession(line, options, frames, latencies)
                                                 : PlayCapture(line, capture, options.timeoutSeconds * 1000, latencies);
        latencies.report();
        close(fd);
        if (status != Ok) {
            result = status;
            break;
        }
    }
    RemoveLink();
    return result;
}

}  // namespace
}  // namespace kvr::tools

int main(int argc, char** argv) { return kvr::tools::Run(argc, argv); }
