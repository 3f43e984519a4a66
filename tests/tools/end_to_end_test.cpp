// Engine, POSIX link and the simulated instrument together: kvr-sim on a
// fresh pty, kvr-read downloading from it, both as real processes.
#include "posix_serial_link.h"

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

// A child process with its standard output and error in files.
class Process {
public:
    Process(std::vector<std::string> args, const std::string& outputPath) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (outputPath + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
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
    bool interrupt = false;  // the user presses Ctrl-C during the transfer
};

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

TEST_P(EndToEnd, TransferEndsAsTheInstrumentDictates) {
    const TransferCase& c = GetParam();
    std::vector<std::string> simArgs = {KVR_SIM, "--pty", port(), "--print-lines", dir_ + "/expected", "--timeout", "5",
                                        "--start-delay", "50"};
    simArgs.insert(simArgs.end(), c.simArgs.begin(), c.simArgs.end());
    Process sim(simArgs, dir_ + "/sim.out");
    ASSERT_TRUE(sim.started());
    ASSERT_TRUE(waitForPort());
    Process reader({KVR_READ, "--quiet", "--output", dir_ + "/received", port()}, dir_ + "/read.out");
    if (c.interrupt) {
        std::this_thread::sleep_for(1s);
        reader.signal(SIGINT);
    }
    EXPECT_EQ(reader.wait(20s), c.readerExit) << std::ifstream(dir_ + "/read.out.err").rdbuf();
    EXPECT_EQ(sim.wait(20s), 0) << std::ifstream(dir_ + "/sim.out.err").rdbuf();

    std::vector<std::string> expected = ReadLines(dir_ + "/expected");
    ASSERT_GE(expected.size(), c.lines);
    expected.resize(c.lines);
    EXPECT_EQ(ReadLines(dir_ + "/received"), expected);
}

// kvr-read exit codes: 0 finished, 1 port failed, 2 frame head error,
// 3 instrument error, 4 unknown record type, 5 stopped.
INSTANTIATE_TEST_SUITE_P(
    Faults, EndToEnd,
    ::testing::Values(TransferCase{"DialectS", {"--dialect", "S"}, 0, 39},
                      TransferCase{"DialectJ", {"--dialect", "J"}, 0, 39},
                      TransferCase{"NoiseBeforeSync", {"--garbage", "99", "--dialect", "J"}, 0, 39},
                      TransferCase{"NoSyncWithin100Bytes", {"--garbage", "100"}, 2, 0},
                      TransferCase{"SohStart", {"--soh"}, 2, 0},
                      TransferCase{"WrongToken", {"--wrong-token", "--dialect", "J"}, 2, 0},
                      TransferCase{"ErrorToken", {"--error-after", "5"}, 3, 5},
                      TransferCase{"BadRecordType", {"--bad-type-after", "3", "--dialect", "J"}, 4, 3},
                      TransferCase{"EndTokenInsteadOfLastFrame", {"--end-instead-of-last"}, 0, 38},
                      TransferCase{"HangUp", {"--hangup-after", "4", "--dialect", "J"}, 1, 4},
                      TransferCase{"StallThenCtrlC", {"--stall-after", "2"}, 5, 2, true}),
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
    Process reader({KVR_READ, "--quiet", port()}, dir_ + "/received");
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

}  // namespace
}  // namespace kvr::test
