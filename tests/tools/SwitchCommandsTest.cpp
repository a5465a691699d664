// The simulated switch against the sample command file: every command the program
// offers gets an answer under the access that offers it, and monitor access is
// refused the maintenance commands.
#include "commands/CommandTable.h"
#include "tools/pmxsim/SwitchDialogue.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using pmxsim::SwitchDialogue;

std::string Drain(SwitchDialogue& d) {
    std::string out;
    char buf[512];
    while (d.HasOutput()) out.append(buf, d.Pull(buf, sizeof buf));
    return out;
}

std::string Login(SwitchDialogue& d, const char* password) {
    const auto now = SwitchDialogue::Clock::now();
    d.Start(now, true);
    const std::string line = std::string(password) + "\r";
    d.Feed(line.data(), line.size(), now);
    return Drain(d);
}

std::string Send(SwitchDialogue& d, const std::string& line) {
    const std::string l = line + "\r";
    d.Feed(l.data(), l.size(), SwitchDialogue::Clock::now());
    return Drain(d);
}

// The line a user would send for table position p, with argument values as typed.
std::string LineFor(const CommandEntry& e, const char* first, const char* second) {
    if (e.argCount == 1) return e.commandText + " " + first;
    if (e.argCount == 2) return e.commandText + " " + first + " " + second;
    return e.commandText;
}

TEST(SwitchCommands, AnswersEverySampleCommandUnderItsAccess) {
    std::string text;
    ASSERT_TRUE(CommandTable::ReadFileText(std::string(PMX_SAMPLES_DIR) + "/CmdConf.txt", text));
    CommandTable table;
    ASSERT_TRUE(table.Parse(text));
    table.InsertBuiltIns();
    ASSERT_EQ(table.count(), 24);

    SwitchDialogue maint{SwitchDialogue::Options{}}, mon{SwitchDialogue::Options{}};
    ASSERT_NE(Login(maint, "velmod").find("maint>"), std::string::npos);
    ASSERT_NE(Login(mon, "quarth").find("mon>"), std::string::npos);
    for (int p = 0; p < table.count(); ++p) {
        const CommandEntry& e = table.entry(p);
        // Arguments that fit every command: a board, a station, an address...
        const char* first = e.commandText.rfind("s s", 0) == 0 ? "201" : e.commandText.rfind("s c", 0) == 0 ? "5" : "3";
        const char* second = (e.commandText == "k c" || e.commandText == "s w") ? "on" : "12";
        const std::string line = LineFor(e, first, second);
        SCOPED_TRACE(line);
        const std::string answer = Send(maint, line);
        EXPECT_EQ(answer.find("??"), std::string::npos) << answer;
        EXPECT_GT(answer.size(), line.size() + 20) << answer;  // a listing, not only the echo
        const std::string asMonitor = Send(mon, line);
        EXPECT_EQ(asMonitor.find("Unknown command"), std::string::npos) << asMonitor;
        // Positions 0-11 are the Monitor group; the rest need maintenance access.
        EXPECT_EQ(asMonitor.find("Not allowed at monitor level") != std::string::npos, p >= 12) << asMonitor;
    }
}

TEST(SwitchCommands, ListingsFollowTheArgumentsAndRememberedState) {
    SwitchDialogue d{SwitchDialogue::Options{}};
    Login(d, "velmod");
    EXPECT_NE(Send(d, "b s 3"), Send(d, "b s 4"));
    EXPECT_NE(Send(d, "d m 1a0 20").find("001A0 "), std::string::npos);
    EXPECT_NE(Send(d, "b s 15").find("?? Board 15 not equipped"), std::string::npos);
    EXPECT_NE(Send(d, "b s").find("?? Missing parameter"), std::string::npos);
    EXPECT_NE(Send(d, "m m xyz 1").find("?? Invalid address: xyz"), std::string::npos);
    // A modified byte shows in the next dump; a set trace in the trace setup until disabled.
    Send(d, "m m 1a4 41");
    EXPECT_NE(Send(d, "d m 1a4 1").find("001A0              41"), std::string::npos);
    Send(d, "t b 5");
    EXPECT_NE(Send(d, "t p").find("BOARD TRACE   ON   BOARD 05"), std::string::npos);
    EXPECT_NE(Send(d, "t d").find("WAS BOARD 05"), std::string::npos);
    EXPECT_NE(Send(d, "t p").find("BOARD TRACE   OFF"), std::string::npos);
    Send(d, "l c");
    EXPECT_NE(Send(d, "l v").find("NO ENTRIES"), std::string::npos);
}

} // namespace
