// Engine, POSIX link and the simulated instrument together: kvr-sim on a
// fresh pty, kvr-download downloading from it, both as real processes.
#include "posix_serial_link.h"
#include "pty.h"
#include "record_list_rules.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace kvr::test {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

std::string FileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// A list file's entries: split at CR LF, as the desktop tool writes them.
std::vector<std::string> ListFileLines(const std::string& path) {
    std::string bytes = FileText(path);
    std::vector<std::string> lines;
    std::size_t position = 0;
    while (!bytes.empty() && position <= bytes.size()) {
        std::size_t end = bytes.find("\r\n", position);
        if (end == std::string::npos) end = bytes.size();
        lines.push_back(bytes.substr(position, end - position));
        position = end + 2;
    }
    return lines;
}

// A child process with its standard output and error in files.
class Process {
public:
    Process(std::vector<std::string> args, const std::string& outputPath) : Process(args, outputPath, outputPath + ".err") {}
    // Standard output to a file (or a device), or to the descriptor outputFd.
    Process(std::vector<std::string> args, const std::string& outputPath, const std::string& errorPath, int outputFd = -1) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (outputFd >= 0) posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
        else posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Process() {
        if (pid_ > 0 && status_ < 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    void signal(int number) { kill(pid_, number); }
    // Exit status, or -1 if it has not ended within the timeout (it is killed).
    int wait(std::chrono::milliseconds timeout) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (status_ < 0 && std::chrono::steady_clock::now() < deadline) {
            int raw;
            if (waitpid(pid_, &raw, WNOHANG) == pid_) status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            else std::this_thread::sleep_for(10ms);
        }
        return status_;
    }
    bool started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

struct TransferCase {
    const char* name;
    std::vector<std::string> simArgs;
    int readerExit;
    std::size_t lines;  // how many of the job's lines arrive, in order
    const char* ended;  // the summary's last line starts with this
    int signal = 0;  // sent to kvr-download during the transfer (Ctrl-C is SIGINT)
};

// The case's name, so that test names stay the same from build to build
// (by default GoogleTest prints the struct's bytes, pointers included).
void PrintTo(const TransferCase& c, std::ostream* out) { *out << c.name; }

class EndToEnd : public ::testing::TestWithParam<TransferCase> {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kvr-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

    bool waitForPort() {
        for (int i = 0; i < 500; ++i) {
            struct stat info;
            if (lstat(port().c_str(), &info) == 0) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    std::string port() const { return dir_ + "/port"; }

    std::string dir_;
};

// Each way a transfer ends: exit status, the summary, and the -o list file
// with exactly the lines received (CR LF between them, none after the last).
TEST_P(EndToEnd, TransferEndsAsTheInstrumentDictates) {
    const TransferCase& c = GetParam();
    std::vector<std::string> simArgs = {KVR_SIM, "--pty", port(), "--print-lines", dir_ + "/expected", "--timeout", "5",
                                        "--start-delay", "50"};
    simArgs.insert(simArgs.end(), c.simArgs.begin(), c.simArgs.end());
    Process sim(simArgs, dir_ + "/sim.out");
    ASSERT_TRUE(sim.started());
    ASSERT_TRUE(waitForPort());
    Process reader({KVR_DOWNLOAD, "-q", "-o", dir_ + "/received.txt", port()}, dir_ + "/read.out");
    if (c.signal) {
        std::this_thread::sleep_for(1s);
        reader.signal(c.signal);
    }
    EXPECT_EQ(reader.wait(20s), c.readerExit) << FileText(dir_ + "/read.out.err");
    EXPECT_EQ(sim.wait(20s), 0) << FileText(dir_ + "/sim.out.err");

    std::vector<std::string> expected = ReadLines(dir_ + "/expected");
    ASSERT_GE(expected.size(), c.lines);
    expected.resize(c.lines);
    EXPECT_EQ(ListFileLines(dir_ + "/received.txt"), expected);
    EXPECT_EQ(FileText(dir_ + "/read.out"), "") << "with -o nothing goes to standard output";
    std::vector<std::string> summary = ReadLines(dir_ + "/read.out.err");
    ASSERT_GE(summary.size(), 2u);
    EXPECT_EQ(summary[summary.size() - 2].rfind("records: " + std::to_string(c.lines) + " (", 0), 0u)
        << summary[summary.size() - 2];
    EXPECT_EQ(summary.back().rfind(c.ended, 0), 0u) << summary.back();
    EXPECT_FALSE(std::ifstream(dir_ + "/received.txt.kvr-download-tmp").good()) << "the temporary file was left";
    // The desktop tool's Load reads the file back as exactly these lines.
    EXPECT_EQ(RecordLinesFromText(TextModeRead(FileText(dir_ + "/received.txt"))), expected);
}

// Exit status: 0 completed, 1 link failure, 2 frame head error,
// 3 instrument error, 4 unknown record type, 130 SIGINT, 143 SIGTERM.
INSTANTIATE_TEST_SUITE_P(
    Faults, EndToEnd,
    ::testing::Values(TransferCase{"DialectS", {"--dialect", "S"}, 0, 39, "ended: last frame"},
                      TransferCase{"DialectJ", {"--dialect", "J"}, 0, 39, "ended: last frame"},
                      TransferCase{"NoiseBeforeSync", {"--garbage", "99", "--dialect", "J"}, 0, 39, "ended: last frame"},
                      TransferCase{"NoSyncWithin100Bytes", {"--garbage", "100"}, 2, 0, "ended: Frame Head error"},
                      TransferCase{"SohStart", {"--soh"}, 2, 0, "ended: Frame Head error"},
                      TransferCase{"WrongToken", {"--wrong-token", "--dialect", "J"}, 2, 0, "ended: Frame Head error"},
                      TransferCase{"ErrorToken", {"--error-after", "5"}, 3, 5, "ended: The instrument reported an error"},
                      TransferCase{"BadRecordType", {"--bad-type-after", "3", "--dialect", "J"}, 4, 3,
                                   "ended: Unknown record type"},
                      TransferCase{"EndTokenInsteadOfLastFrame", {"--end-instead-of-last"}, 0, 38,
                                   "ended: finished by the instrument"},
                      TransferCase{"HangUp", {"--hangup-after", "4", "--dialect", "J"}, 1, 4, "ended: link failure"},
                      TransferCase{"StallThenCtrlC", {"--stall-after", "2"}, 130, 2, "ended: cancelled", SIGINT},
                      TransferCase{"StallThenSigterm", {"--stall-after", "3"}, 143, 3, "ended: cancelled", SIGTERM}),
    [](const ::testing::TestParamInfo<TransferCase>& info) { return std::string(info.param.name); });

TEST_F(EndToEnd, RecordsFromAFileArriveAsTheirLines) {
    {
        std::ofstream records(dir_ + "/job.txt");
        records << "# a short job\n"
                   "JOB  ROAD1\n"
                   "STN  A1 - 1.45 100 200 30.5\n"
                   "BK   A1 A2 0900000\n"
                   "MP   P1 KERB 1234530 0891500 12.3456 12.3 -0.25 1.5 - 105.1 207.2 30.05\n";
    }
    Process sim({KVR_SIM, "--pty", port(), "--records", dir_ + "/job.txt", "--dialect", "J", "--start-delay", "50"},
                dir_ + "/sim.out");
    ASSERT_TRUE(waitForPort());
    Process reader({KVR_DOWNLOAD, "-q", port()}, dir_ + "/received");
    EXPECT_EQ(reader.wait(10s), 0);
    EXPECT_EQ(sim.wait(10s), 0);
    const std::vector<std::string> expected = {
        "JOB: ROAD1",
        "STN: A1,,1.450,200.000,100.000,30.500",
        "BK:  A1,A2,90.0000",
        "MP:  P1,KERB,123.4530,89.1500,12.346,12.300,-0.250,1.500,0.000,207.200,105.100,30.050",
    };
    EXPECT_EQ(ReadLines(dir_ + "/received"), expected);
}

// A receiver that answers wrongly: the simulator names the fault and exits 2.
TEST_F(EndToEnd, SimulatorRejectsAWrongEchoOrAcknowledgement) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> echo;
        std::vector<std::uint8_t> ack;
        const char* message;
    };
    const Case cases[] = {
        {"wrong echo", {0x05, 'J', 0x0D}, {}, "echo"},
        {"wrong acknowledgement", {0x05, 'S', 0x0D}, {0x02, '0', '0', '3', '9', '0', '0', '0', '1', 0x07}, "acknowledgement"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Process sim({KVR_SIM, "--pty", port(), "--start-delay", "50", "--timeout", "5"}, dir_ + "/sim.out");
        ASSERT_TRUE(waitForPort());
        PosixSerialLink receiver;
        ASSERT_TRUE(receiver.open(port()));
        std::uint8_t bytes[16];
        ASSERT_TRUE(receiver.readExact(bytes, 3));
        ASSERT_TRUE(receiver.write(c.echo.data(), c.echo.size()));
        if (!c.ack.empty()) {
            ASSERT_TRUE(receiver.readExact(bytes, 16));
            ASSERT_TRUE(receiver.write(c.ack.data(), c.ack.size()));
        }
        EXPECT_EQ(sim.wait(10s), 2);
        std::ifstream log(dir_ + "/sim.out.err");
        std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
        EXPECT_NE(text.find(c.message), std::string::npos) << text;
        unlink(port().c_str());
    }
}

// A line that cannot be stored is not acknowledged: the instrument keeps the
// record, and kvr-download exits 74, also when its pipe was closed (never
// by SIGPIPE).
TEST_F(EndToEnd, ALineThatCannotBeWrittenIsNotAcknowledged) {
    for (bool closedPipe : {false, true}) {
        SCOPED_TRACE(closedPipe ? "closed pipe" : "/dev/full");
        Process sim({KVR_SIM, "--pty", port(), "--start-delay", "50", "--timeout", "3"}, dir_ + "/sim.out");
        ASSERT_TRUE(waitForPort());
        int pipeEnds[2] = {-1, -1};
        if (closedPipe) {
            ASSERT_EQ(pipe(pipeEnds), 0);
            close(pipeEnds[0]);
        }
        Process reader({KVR_DOWNLOAD, "-q", port()}, "/dev/full", dir_ + "/read.err", pipeEnds[1]);
        if (closedPipe) close(pipeEnds[1]);
        EXPECT_EQ(reader.wait(20s), 74) << FileText(dir_ + "/read.err");
        EXPECT_NE(FileText(dir_ + "/read.err").find("output error"), std::string::npos) << FileText(dir_ + "/read.err");
        EXPECT_EQ(sim.wait(20s), 3);
        EXPECT_NE(FileText(dir_ + "/sim.out.err").find("no acknowledgement for frame 1"), std::string::npos)
            << FileText(dir_ + "/sim.out.err");
    }
}

// --raw keeps the instrument's bytes; --replay decodes them again without
// a port; kvr-sim --play sends them again as an instrument. All three give
// the same lines. --append then adds to the list file.
TEST_F(EndToEnd, CaptureReplayAndPlayGiveTheSameLines) {
    Process sim({KVR_SIM, "--pty", port(), "--dialect", "J", "--garbage", "7", "--start-delay", "50",
                 "--print-lines", dir_ + "/expected"}, dir_ + "/sim.out");
    ASSERT_TRUE(waitForPort());
    Process live({KVR_DOWNLOAD, "-q", "--raw", dir_ + "/capture.raw", "-o", dir_ + "/live.txt", port()}, dir_ + "/live.out");
    ASSERT_EQ(live.wait(20s), 0) << FileText(dir_ + "/live.out.err");
    ASSERT_EQ(sim.wait(20s), 0);
    const std::vector<std::string> expected = ReadLines(dir_ + "/expected");
    ASSERT_EQ(ListFileLines(dir_ + "/live.txt"), expected);
    EXPECT_EQ(FileText(dir_ + "/capture.raw").substr(0, 7), "~#x\r\n7A") << "the noise before the sync is kept too";

    Process replay({KVR_DOWNLOAD, "--replay", dir_ + "/capture.raw"}, dir_ + "/replay.out");
    EXPECT_EQ(replay.wait(10s), 0) << FileText(dir_ + "/replay.out.err");
    EXPECT_EQ(ReadLines(dir_ + "/replay.out"), expected);

    Process player({KVR_SIM, "--pty", port(), "--play", dir_ + "/capture.raw", "--start-delay", "50"}, dir_ + "/play.out");
    ASSERT_TRUE(waitForPort());
    Process played({KVR_DOWNLOAD, "-q", "-o", dir_ + "/live.txt", "--append", port()}, dir_ + "/played.out");
    EXPECT_EQ(played.wait(20s), 0) << FileText(dir_ + "/played.out.err");
    EXPECT_EQ(player.wait(20s), 0) << FileText(dir_ + "/play.out.err");
    std::vector<std::string> twice = expected;
    twice.insert(twice.end(), expected.begin(), expected.end());
    EXPECT_EQ(ListFileLines(dir_ + "/live.txt"), twice);
}

// A capture of a failed session replays to the same outcome.
TEST_F(EndToEnd, AReplayEndsAsTheLiveRunDid) {
    Process sim({KVR_SIM, "--pty", port(), "--bad-type-after", "3", "--start-delay", "50"}, dir_ + "/sim.out");
    ASSERT_TRUE(waitForPort());
    Process live({KVR_DOWNLOAD, "-q", "--raw", dir_ + "/capture.raw", port()}, dir_ + "/live.out");
    ASSERT_EQ(live.wait(20s), 4);
    Process replay({KVR_DOWNLOAD, "--replay", dir_ + "/capture.raw"}, dir_ + "/replay.out");
    EXPECT_EQ(replay.wait(10s), 4);
    EXPECT_EQ(FileText(dir_ + "/replay.out"), FileText(dir_ + "/live.out"));
    EXPECT_EQ(ReadLines(dir_ + "/replay.out").size(), 3u);
}

TEST_F(EndToEnd, BadUsageAndAPortThatCannotBeOpened) {
    struct Case { std::vector<std::string> args; int status; };
    const Case cases[] = {
        {{KVR_DOWNLOAD}, 64},
        {{KVR_DOWNLOAD, "--append", port()}, 64},
        {{KVR_DOWNLOAD, "--replay", "x", port()}, 64},
        {{KVR_DOWNLOAD, "-o", dir_ + "/never.txt", dir_ + "/no-such-port"}, 1},
    };
    for (const Case& c : cases) {
        Process reader(c.args, dir_ + "/usage.out");
        EXPECT_EQ(reader.wait(10s), c.status) << c.args.back();
    }
    EXPECT_FALSE(std::ifstream(dir_ + "/never.txt").good()) << "a failed open left an output file";
}

// Both tools give the project's version.
TEST_F(EndToEnd, BothToolsGiveTheProjectsVersion) {
    for (const char* tool : {KVR_DOWNLOAD, KVR_SIM}) {
        Process version({tool, "--version"}, dir_ + "/version.out");
        EXPECT_EQ(version.wait(10s), 0) << tool;
        std::string name = std::string(tool).substr(std::string(tool).rfind('/') + 1);
        EXPECT_EQ(FileText(dir_ + "/version.out"), name + " " KVR_PROJECT_VERSION "\n");
    }
}

// A field that holds an ESC sequence: escaped on a terminal, so it cannot
// clear the screen; the bytes as they came in the list file.
TEST_F(EndToEnd, ControlBytesAreEscapedOnlyOnATerminal) {
    { std::ofstream records(dir_ + "/job.txt", std::ios::binary); records << "JOB \x1b[2J\x07\n"; }
    tools::Pty terminal;
    std::string error;
    ASSERT_TRUE(tools::OpenPty(terminal, "", error)) << error;
    int screen = open(terminal.slavePath.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(screen, 0);
    for (bool toTerminal : {true, false}) {
        SCOPED_TRACE(toTerminal ? "terminal" : "list file");
        Process sim({KVR_SIM, "--pty", port(), "--records", dir_ + "/job.txt", "--start-delay", "50"}, dir_ + "/sim.out");
        ASSERT_TRUE(waitForPort());
        std::vector<std::string> args = {KVR_DOWNLOAD, "-q", port()};
        if (!toTerminal) args = {KVR_DOWNLOAD, "-q", "-o", dir_ + "/job-list.txt", port()};
        Process reader(args, "", dir_ + "/read.err", screen);
        EXPECT_EQ(reader.wait(20s), 0) << FileText(dir_ + "/read.err");
        EXPECT_EQ(sim.wait(20s), 0);
    }
    close(screen);
    fcntl(terminal.master, F_SETFL, O_NONBLOCK);
    char shown[256] = {};
    ssize_t length = read(terminal.master, shown, sizeof shown - 1);
    close(terminal.master);
    ASSERT_GT(length, 0);
    EXPECT_EQ(std::string(shown, std::size_t(length)), "JOB: \\x1B[2J\\x07\n");  // a raw terminal: no CR added
    EXPECT_EQ(FileText(dir_ + "/job-list.txt"), "JOB: \x1b[2J\x07");
}

// The simulator's own guards: numbers in range, only a link replaced by
// --pty, and its link gone when it ends.
TEST_F(EndToEnd, SimulatorChecksItsNumbersAndItsLink) {
    for (std::vector<std::string> bad : {std::vector<std::string>{"--garbage", "4294967295"},
                                         std::vector<std::string>{"--timeout", "2147484"},
                                         std::vector<std::string>{"--stall-after", "-1"},
                                         std::vector<std::string>{"--sessions", "x"}}) {
        std::vector<std::string> args = {KVR_SIM, "--pty", port()};
        args.insert(args.end(), bad.begin(), bad.end());
        Process sim(args, dir_ + "/sim.out");
        EXPECT_EQ(sim.wait(5s), 1) << bad[0] << " " << bad[1];
    }
    { std::ofstream precious(port()); precious << "keep me"; }
    Process refused({KVR_SIM, "--pty", port()}, dir_ + "/sim.out");
    EXPECT_EQ(refused.wait(5s), 1);
    EXPECT_EQ(FileText(port()), "keep me");
    unlink(port().c_str());

    Process sim({KVR_SIM, "--pty", port(), "--start-delay", "50"}, dir_ + "/sim.out");
    ASSERT_TRUE(waitForPort());
    Process reader({KVR_DOWNLOAD, "-q", port()}, dir_ + "/read.out");
    EXPECT_EQ(reader.wait(20s), 0);
    EXPECT_EQ(sim.wait(20s), 0);
    struct stat info;
    EXPECT_NE(lstat(port().c_str(), &info), 0) << "the link outlived the simulator";
}

// Exclusive mode is let go on close: an unprivileged user can download
// twice in a row from the same port.
TEST_F(EndToEnd, TwoDownloadsInARowAsAnUnprivilegedUser) {
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs root and setpriv";
    chmod(dir_.c_str(), 0777);
    const std::vector<std::string> nobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    auto as = [&](std::vector<std::string> args) {
        args.insert(args.begin(), nobody.begin(), nobody.end());
        return args;
    };
    Process probe(as({KVR_DOWNLOAD, "--version"}), "/dev/null", dir_ + "/probe.err");
    if (probe.wait(10s) != 0) GTEST_SKIP() << "nobody cannot run the build from this checkout";
    Process sim(as({KVR_SIM, "--pty", port(), "--sessions", "2", "--start-delay", "50"}), dir_ + "/sim.out");
    ASSERT_TRUE(waitForPort());
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        Process reader(as({KVR_DOWNLOAD, "-q", port()}), "/dev/null", dir_ + "/read.err");
        EXPECT_EQ(reader.wait(20s), 0) << FileText(dir_ + "/read.err");
    }
    EXPECT_EQ(sim.wait(20s), 0) << FileText(dir_ + "/sim.out.err");
}

}  // namespace
}  // namespace kvr::test
