// pmxdiag-run end to end, the real binary against the switch simulator and loopback
// peers: one test per exit code family.
#include "tests/links/LoopbackPeer.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct RunResult {
    int code = -1;
    std::string out, err;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class RunnerTest : public ::testing::Test {
protected:
    TempDir dir_;

    // Runs pmxdiag-run in the test's folder with its own settings home; stdin from input.
    RunResult Run(std::vector<std::string> args, const std::string& password = "velmod",
                  const std::string& input = "") {
        dir_.write("stdin.txt", input);
        // The test's environment (sanitizer options among it), with the run's own home.
        std::vector<std::string> env{"HOME=" + dir_.path(), "XDG_CONFIG_HOME=" + dir_.path() + "/.config"};
        for (char** e = environ; *e; ++e) {
            const std::string var = *e;
            if (var.rfind("HOME=", 0) != 0 && var.rfind("XDG_CONFIG_HOME=", 0) != 0 && var.rfind("PMX_PASSWORD=", 0) != 0)
                env.push_back(var);
        }
        if (!password.empty()) env.push_back("PMX_PASSWORD=" + password);
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string exe = PMXDIAG_RUN_PATH;
        std::vector<char*> argv{exe.data()};
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, dir_.file("stdin.txt").c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, dir_.file("out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&fa, 2, dir_.file("err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addchdir_np(&fa, dir_.path().c_str());
        pid_t pid = -1;
        RunResult r;
        if (posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), envp.data()) == 0) {
            int st = 0;
            ::waitpid(pid, &st, 0);
            r.code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        }
        posix_spawn_file_actions_destroy(&fa);
        r.out = Slurp(dir_.file("out.txt"));
        r.err = Slurp(dir_.file("err.txt"));
        return r;
    }
};

// A switch that logs in, answers one command with its prompt and then does as told.
LoopbackPeer::Script AfterLogin(bool closeOnCommand) {
    return [closeOnCommand](LoopbackPeer& p, int fd) {
        auto readLine = [&] {
            for (char c = 0; c != '\r' && !p.stopping();) {
                pollfd in{fd, POLLIN, 0};
                if (::poll(&in, 1, 20) > 0 && ::recv(fd, &c, 1, 0) <= 0) return false;
            }
            return !p.stopping();
        };
        SendAll(fd, "\r\nPASSWORD:");
        if (!readLine()) return;
        SendAll(fd, "\r\nmaint>");
        if (!readLine()) return;
        if (closeOnCommand) return;  // the connection drops
        p.Collect(fd);                // silent: no prompt comes back
    };
}

} // namespace

TEST_F(RunnerTest, ScriptRunsAndTheTraceIsWritten) {
    SimProcess sim(PMXSIM_PATH, dir_.file("sim.log"));
    ASSERT_GT(sim.port(), 0);
    const std::string where = "127.0.0.1:" + std::to_string(sim.port());
    dir_.write("script.txt", "# nightly\nt d\ns s\n");
    RunResult r = Run({"--lan", where, "--script", "script.txt", "--trace", "trace.txt", "--timestamps"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("SYSTEM DATE"), std::string::npos);
    EXPECT_NE(r.err.find("pmxdiag-run: " + where + ": done"), std::string::npos) << r.err;
    const std::string trace = Slurp(dir_.file("trace.txt"));
    EXPECT_NE(trace.find("\tStart to Save Trace Data at  "), std::string::npos);
    EXPECT_NE(trace.find("SYSTEM DATE"), std::string::npos);
    EXPECT_NE(trace.find("\tStop Saving Trace Data at  "), std::string::npos);

    // Commands from standard input, nothing on standard output with --quiet.
    r = Run({"--lan", where, "--quiet"}, "velmod", "t d\n");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(RunnerTest, UsageAndFileErrorsEndBeforeAnyCall) {
    EXPECT_EQ(Run({"--help"}).code, 0);
    EXPECT_NE(Run({"--help"}).out.find("4 prompt time-out; 5 link lost"), std::string::npos);
    EXPECT_EQ(Run({"--version"}).out, "pmxdiag-run " PMX_VERSION "\n");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"--lan"}, {"--lan", "h", "--isdn"}, {"--serial", "/dev/x", "--line", "9600,9,N,1,none"},
          {"--lan", "h", "--password", "velmod"}, {"--lan", "h", "--script", "missing.txt"}, {"--entry", "Nobody"}}) {
        const RunResult r = Run(args, "velmod", "t d\n");
        EXPECT_EQ(r.code, 1) << r.err;
        EXPECT_NE(r.err.find("pmxdiag-run: "), std::string::npos);
    }
    EXPECT_EQ(Run({"--lan", "127.0.0.1:1"}, "", "t d\n").code, 1);  // no password anywhere
}

TEST_F(RunnerTest, DeadAddressIsAConnectFailure) {
    unsigned short port = 0;
    const int fd = ListenLoopback(1, &port);
    ::close(fd);  // nothing listens there now
    const RunResult r = Run({"--lan", "127.0.0.1:" + std::to_string(port)}, "velmod", "t d\n");
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_NE(r.err.find("connect failed"), std::string::npos);
}

TEST_F(RunnerTest, WrongPasswordIsRefusedNotAHang) {
    SimProcess sim(PMXSIM_PATH, dir_.file("sim.log"));
    ASSERT_GT(sim.port(), 0);
    const RunResult r = Run({"--lan", "127.0.0.1:" + std::to_string(sim.port())}, "wrong", "t d\n");
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_NE(r.err.find("login refused"), std::string::npos);
}

TEST_F(RunnerTest, SilenceAfterACommandIsAPromptTimeout) {
    LoopbackPeer peer(AfterLogin(false));
    const RunResult r = Run({"--lan", peer.destination(), "--prompt-timeout", "1"}, "velmod", "t d\n");
    EXPECT_EQ(r.code, 4) << r.err;
    EXPECT_NE(r.err.find("no prompt from the switch within 1 s after line 1"), std::string::npos) << r.err;
}

TEST_F(RunnerTest, SwitchGoneIsALostLink) {
    LoopbackPeer peer(AfterLogin(true));
    const RunResult r = Run({"--lan", peer.destination()}, "velmod", "t d\ns s\n");
    EXPECT_EQ(r.code, 5) << r.err;
    EXPECT_NE(r.err.find("LAN connection closed by the switch."), std::string::npos) << r.err;
}
