// The command line, through the real program where it decides alone (no window
// system needed), and the parser's and display check's finer cases directly.
#include "app/CommandLine.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <sys/wait.h>

namespace {

struct Outcome {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
};

// Runs the program with the display variables removed and env added.
Outcome RunProgram(const std::string& args, const std::string& env = "") {
    TempDir dir;
    const std::string cmd = "cd " + dir.path() + " && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                            env + " " PMXDIAG_PATH " " + args + " 2>" + dir.file("err");
    Outcome run;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return run;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) run.out.append(buf, n);
    const int st = ::pclose(p);
    run.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    run.err = dir.read("err");
    return run;
}

size_t Lines(const std::string& s) { return size_t(std::count(s.begin(), s.end(), '\n')); }

} // namespace

TEST(CommandLine, OptionsAnswerWithoutDisplayAndFailuresTakeOneLine) {
    Outcome help = RunProgram("--help");
    EXPECT_EQ(help.status, kExitOk);
    EXPECT_EQ(help.out.rfind("Usage: pmxdiag", 0), 0u) << help.out;
    EXPECT_EQ(help.err, "");

    Outcome version = RunProgram("-V");
    EXPECT_EQ(version.status, kExitOk);
    EXPECT_EQ(version.out, "pmxdiag " PMX_VERSION "\n");

    Outcome unknown = RunProgram("--bogus trace.txt");
    EXPECT_EQ(unknown.status, kExitUsage);
    EXPECT_EQ(unknown.out, "");
    EXPECT_EQ(Lines(unknown.err), 1u) << unknown.err;
    EXPECT_NE(unknown.err.find("'--bogus'"), std::string::npos);

    Outcome noDisplay = RunProgram("trace.txt");
    EXPECT_EQ(noDisplay.status, kExitNoDisplay);
    EXPECT_EQ(Lines(noDisplay.err), 1u) << noDisplay.err;

    // A display that is named but cannot be reached: the toolkit's failure, not an abort.
    Outcome unreachable = RunProgram("", "DISPLAY=:987");
    EXPECT_EQ(unreachable.status, kExitNoDisplay);
    EXPECT_EQ(Lines(unreachable.err), 1u) << unreachable.err;

    // The finer cases, directly.
    auto parse = [](std::vector<std::string> a) {
        a.insert(a.begin(), "pmxdiag");
        return ParseCommandLine(a);
    };
    EXPECT_EQ(parse({}).action, CommandLine::Action::Run);
    EXPECT_EQ(parse({"t.txt"}).file, "t.txt");
    EXPECT_EQ(parse({"--", "-odd.txt"}).file, "-odd.txt");
    EXPECT_EQ(parse({"a", "b"}).action, CommandLine::Action::Error);
    EXPECT_EQ(parse({"t.txt", "--version"}).action, CommandLine::Action::Version);
    EXPECT_EQ(parse({"-platform"}).action, CommandLine::Action::Error);
    const CommandLine forced = parse({"-platform", "offscreen", "t.txt", "-reverse"});
    EXPECT_EQ(forced.action, CommandLine::Action::Run);
    EXPECT_EQ(forced.platform, "offscreen");
    EXPECT_EQ(forced.file, "t.txt");

    static std::map<std::string, std::string> env;
    auto lookup = [](const char* name) -> const char* {
        auto it = env.find(name);
        return it == env.end() ? nullptr : it->second.c_str();
    };
    const struct {
        std::map<std::string, std::string> env;
        bool expected;
    } cases[] = {
        {{}, false},
        {{{"DISPLAY", ""}}, false},
        {{{"DISPLAY", ":0"}}, true},
        {{{"WAYLAND_DISPLAY", "wayland-0"}}, true},
        {{{"QT_QPA_PLATFORM", "offscreen"}}, true},
        {{{"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", "wayland-0"}}, false},
        {{{"QT_QPA_PLATFORM", "wayland;xcb"}, {"DISPLAY", ":0"}}, true},
        {{{"QT_QPA_PLATFORM", "vnc:size=800x600"}}, true},
    };
    for (const auto& c : cases) {
        env = c.env;
        EXPECT_EQ(DisplayExpected(parse({}), lookup), c.expected) << testing::PrintToString(c.env);
    }
    env = {};
    EXPECT_TRUE(DisplayExpected(parse({"-platform", "offscreen"}), lookup));
}
