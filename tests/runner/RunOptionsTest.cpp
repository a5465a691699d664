#include "runner/HeadlessMessages.h"
#include "runner/PasswordSource.h"
#include "runner/RunOptions.h"

#include "res/resource.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sstream>
#include <unistd.h>

using namespace runner;

namespace {

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

} // namespace

TEST(RunOptionsTest, CommandLinesParseOrNameTheirFault) {
    struct Case {
        const char* line;
        const char* errorPart;  // empty: accepted
    };
    const Case cases[] = {
        {"--lan 127.0.0.1:2323", ""},
        {"--lan=switch7 --script s.txt --trace t.txt --timestamps -q", ""},
        {"--serial /dev/ttyUSB0 --line 19200,7,E,2,rtscts+xonxoff", ""},
        {"--serial --settings", ""},
        {"--settings --lan", ""},
        {"--modem 9,0307-4412 --prompt-timeout 5 --connect-timeout 90", ""},
        {"--entry Harbour --name harbour", ""},
        {"--isdn --password-file pw", ""},
        {"--help --bogus", ""},
        {"", "choose a link"},
        {"--lan", "needs HOST[:PORT]"},
        {"--serial --line 9600,8,N,1,none", "needs a DEVICE"},
        {"--lan a --isdn", "choose one link"},
        {"--lan a --line 9600,8,N,1,none", "--serial only"},
        {"--serial d --line 9600,9,N,1,none", "--line"},
        {"--serial d --line 9600,8,X,1,none", "--line"},
        {"--serial d --line 9600,8,N,3,none", "--line"},
        {"--serial d --line 9600,8,N,1,none+rtscts", "--line"},
        {"--serial d --line -9600,8,N,1,none", "--line"},
        {"--lan a --password secret", "never an argument"},
        {"--lan a --password=secret", "never an argument"},
        {"--lan a --prompt-timeout 0", "whole seconds"},
        {"--lan a --prompt-timeout 5s", "whole seconds"},
        {"--lan a --connect-timeout", "needs a value"},
        {"--isdn=123 --timestamps=1", "takes no value"},
        {"--lan a --quiet=yes", "takes no value"},
        {"--lan a --frobnicate", "unknown option --frobnicate"},
        {"--lan a stray", "unexpected argument stray"},
        {"--modem", "needs a value"},
    };
    for (const Case& c : cases) {
        const ParseResult r = ParseRunOptions(Words(c.line));
        if (!*c.errorPart) {
            EXPECT_TRUE(r.ok()) << c.line << ": " << r.error;
        } else {
            EXPECT_NE(r.error.find(c.errorPart), std::string::npos) << c.line << ": " << r.error;
        }
    }

    const RunOptions o = ParseRunOptions(Words("--serial /dev/ttyUSB0 --line 19200,7,E,1.5,rtscts+xonxoff "
                                               "--script s.txt --trace t.txt --timestamps -q --prompt-timeout 5"))
                             .options;
    EXPECT_EQ(o.link, LinkChoice::Serial);
    EXPECT_EQ(o.target, "/dev/ttyUSB0");
    EXPECT_EQ(o.line, (LineSettings{19200, 7, 2, 1, 6}));
    EXPECT_EQ(o.scriptFile, "s.txt");
    EXPECT_EQ(o.traceFile, "t.txt");
    EXPECT_TRUE(o.timestamps && o.quiet);
    EXPECT_EQ(o.promptTimeoutSeconds, 5);
    EXPECT_EQ(SwitchLabel(o), "/dev/ttyUSB0");
    EXPECT_EQ(SwitchLabel(ParseRunOptions(Words("--lan sw --name north")).options), "north");
    EXPECT_EQ(ParseRunOptions(Words("--serial --settings")).options.target, "");
    EXPECT_NE(UsageText().find("5  link lost"), std::string::npos);
}

TEST(RunOptionsTest, PasswordComesTrimmedFromTheFileOrTheEnvironmentOnly) {
    TempDir dir;
    dir.write("pw", "  velmod \r\nsecond line\n");
    dir.write("blank", " \t\r\n");
    dir.write("long", std::string(33, 'a'));
    EXPECT_EQ(LoadPassword(dir.file("pw"), "quarth").password, "velmod");  // the file wins
    EXPECT_EQ(LoadPassword("", " quarth\n").password, "quarth");
    EXPECT_FALSE(LoadPassword("", nullptr).password);
    EXPECT_FALSE(LoadPassword("", "").password);
    EXPECT_TRUE(LoadPassword("", nullptr).error.empty());
    EXPECT_NE(LoadPassword(dir.file("blank"), nullptr).error.find("holds no password"), std::string::npos);
    EXPECT_NE(LoadPassword(dir.file("long"), nullptr).error.find("longer than 32"), std::string::npos);
    EXPECT_NE(LoadPassword(dir.file("missing"), nullptr).error.find("cannot read"), std::string::npos);
}

TEST(RunOptionsTest, BoxesBecomeOneLineEachAnsweredToGoAheadOrAreHeldForTheFailure) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    HeadlessMessages messages("north", fds[1]);
    EXPECT_EQ(messages.messageBox("Failed to connect\r\nto the switch.", "PMXDiag", MsgIcon::Error, MsgButtons::Ok), IDOK);
    messages.hold(true);
    messages.messageBox("First.", "", MsgIcon::Error, MsgButtons::Ok);
    messages.messageBox("Told at once.", "", MsgIcon::Information, MsgButtons::Ok);
    messages.messageBox("Second.", "Link", MsgIcon::Warning, MsgButtons::Ok);
    EXPECT_EQ(messages.takeHeld(), "First.; Link: Second.");
    messages.messageBox("Third.", "", MsgIcon::Error, MsgButtons::Ok);
    messages.hold(false);
    EXPECT_EQ(messages.messageBox("Send it?", "Recovery", MsgIcon::Warning, MsgButtons::OkCancel), IDOK);
    EXPECT_EQ(messages.messageBox("Disconnect?", "", MsgIcon::Question, MsgButtons::YesNo), IDYES);
    EXPECT_EQ(messages.messageBox("Again?", "", MsgIcon::None, MsgButtons::RetryCancel), IDCANCEL);
    EXPECT_FALSE(messages.saveFileName({}));
    messages.setTraceFile("t.txt");
    EXPECT_EQ(messages.saveFileName({}), "t.txt");
    ::close(fds[1]);
    std::string out;
    char buf[512];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    EXPECT_EQ(out,
              "pmxdiag-run: north: Failed to connect to the switch.\n"
              "pmxdiag-run: north: Told at once.\n"
              "pmxdiag-run: north: Third.\n"
              "pmxdiag-run: north: Recovery: Send it?\n"
              "pmxdiag-run: north: Disconnect?\n"
              "pmxdiag-run: north: Again?\n");
}
