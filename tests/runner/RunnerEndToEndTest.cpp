// The real pmxdiag-run against real peers on loopback: the simulator, a closed port and
// scripted switches that go silent or hang up. One test per exit-code family.
#include "tests/links/LoopbackPeer.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace {

struct RunResult {
    int code = -1;  // -1: did not end in time (killed)
    std::string out, err;
};

// Runs pmxdiag-run in dir with its own settings store, standard input from stdinFile.
RunResult RunTool(const TempDir& dir, std::vector<std::string> args, const std::string& stdinFile = "/dev/null") {
    args.insert(args.begin(), PMXDIAG_RUN_PATH);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The test's environment (sanitizer options among it), with a settings store of the
    // run's own and no password from outside.
    std::vector<std::string> env = {"XDG_CONFIG_HOME=" + dir.file("config")};
    for (char** e = environ; *e; ++e) {
        const std::string var = *e;
        if (var.rfind("XDG_CONFIG_HOME=", 0) != 0 && var.rfind("PMX_PASSWORD=", 0) != 0) env.push_back(var);
    }
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, stdinFile.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, dir.file("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, dir.file("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&fa, dir.path().c_str());
    pid_t pid = -1;
    RunResult r;
    if (posix_spawn(&pid, PMXDIAG_RUN_PATH, &fa, nullptr, argv.data(), envp.data()) != 0) return r;
    posix_spawn_file_actions_destroy(&fa);
    int status = 0;
    // Every outcome comes well within this; a run that hangs is a failure, not a wait.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return r;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = dir.read("stdout");
    r.err = dir.read("stderr");
    return r;
}

size_t Lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

// Reads from fd until the text holds a carriage return; false when the peer closed.
bool ReadLine(int fd) {
    char c;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) return false;
        if (::recv(fd, &c, 1, 0) <= 0) return false;
        if (c == '\r') return true;
    }
}

// A switch that logs in anyone and answers the first command with nothing, then hangs
// up (hangUp) or stays silent until the other side closes.
LoopbackPeer::Script LoginThen(bool hangUp) {
    return [hangUp](LoopbackPeer& peer, int fd) {
        if (!ReadLine(fd) || !SendAll(fd, "\r\nPASSWORD:") || !ReadLine(fd) || !SendAll(fd, "\r\nmaint>")) return;
        if (!ReadLine(fd) || hangUp) return;
        peer.Collect(fd);
    };
}

class RunnerEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir.write("pw", "velmod\n");
        dir.write("script.txt", "# status first\ns s\n\nhelp\n");
    }
    TempDir dir;
};

} // namespace

TEST_F(RunnerEndToEndTest, ScriptRunsToTheEndWithTraceAndOutput_Exit0) {
    SimProcess sim(PMXSIM_PATH, dir.file("sim.log"));
    ASSERT_GT(sim.port(), 0);
    const std::string lan = "127.0.0.1:" + std::to_string(sim.port());
    RunResult r = RunTool(dir, {"--lan", lan, "--password-file", "pw", "--script", "script.txt", "--trace", "t.txt"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("SYSTEM STATUS"), std::string::npos);
    EXPECT_NE(r.out.find("* maintenance access"), std::string::npos);  // help's last line: both lines went
    EXPECT_NE(r.err.find("pmxdiag-run: " + lan + ": Script done: 2 commands sent."), std::string::npos) << r.err;
    const std::string trace = dir.read("t.txt");
    const size_t start = trace.find("\tStart to Save Trace Data at  ");
    const size_t status = trace.find("SYSTEM STATUS\r\n");
    const size_t stop = trace.find("\tStop Saving Trace Data at  ");
    EXPECT_NE(start, std::string::npos);
    EXPECT_LT(start, status);
    EXPECT_LT(status, stop);
    EXPECT_EQ(trace.find("velmod"), std::string::npos);  // what goes out is not traced
    EXPECT_EQ(trace.find('\n', 0), trace.find("\r\n", 0) + 1);

    // Without --script the lines come from standard input; --quiet keeps standard output empty.
    r = RunTool(dir, {"--lan", lan, "--password-file", "pw", "--quiet"}, dir.file("script.txt"));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Script done: 2 commands sent."), std::string::npos) << r.err;
}

TEST_F(RunnerEndToEndTest, BadFilesAndDeadAddressStopBeforeOrAtTheConnect_Exit1And2) {
    unsigned short port = 0;
    ::close(ListenLoopback(1, &port));  // nobody listens there any more
    const std::string dead = "127.0.0.1:" + std::to_string(port);
    RunResult r = RunTool(dir, {"--lan", dead, "--password-file", "pw", "--script", "missing.txt"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(Lines(r.err), 1u) << r.err;
    r = RunTool(dir, {"--lan", dead, "--password-file", "pw", "--script", "script.txt", "--trace", "no/such/t.txt"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "pmxdiag-run: " + dead + ": cannot write the trace file no/such/t.txt: Failed to Open File\n");
    r = RunTool(dir, {"--lan", dead, "--password", "velmod"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("never an argument"), std::string::npos) << r.err;
    r = RunTool(dir, {"--lan", dead, "--password-file", "pw", "--script", "script.txt", "--trace", "t.txt"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err.find("pmxdiag-run: " + dead + ": connect failed: "), r.err.find('\n') + 1) << r.err;
    EXPECT_EQ(Lines(r.err), 3u) << r.err;  // the trace's start and stop, and the failure
}

TEST_F(RunnerEndToEndTest, WrongPasswordIsRefusedWithOneLine_Exit3) {
    SimProcess sim(PMXSIM_PATH, dir.file("sim.log"));
    ASSERT_GT(sim.port(), 0);
    dir.write("bad", "letmein\n");
    const RunResult r = RunTool(dir, {"--lan", "127.0.0.1:" + std::to_string(sim.port()), "--password-file", "bad",
                                  "--script", "script.txt", "-q", "--name", "north"});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err, "pmxdiag-run: north: login refused: the password gives no access level\n");
}

TEST_F(RunnerEndToEndTest, SilentSwitchTimesOut_Exit4) {
    LoopbackPeer peer(LoginThen(/*hangUp=*/false));
    const RunResult r = RunTool(dir, {"--lan", peer.destination(), "--password-file", "pw", "--script", "script.txt",
                                  "--prompt-timeout", "1", "-q"});
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.err.find("no prompt from the switch within 1 s after line 1"), std::string::npos) << r.err;
}

TEST_F(RunnerEndToEndTest, HangUpDuringTheScriptIsALostLink_Exit5) {
    LoopbackPeer peer(LoginThen(/*hangUp=*/true));
    const RunResult r = RunTool(dir, {"--lan", peer.destination(), "--password-file", "pw", "--script", "script.txt", "-q"});
    EXPECT_EQ(r.code, 5);
    EXPECT_NE(r.err.find("link lost"), std::string::npos) << r.err;
}
