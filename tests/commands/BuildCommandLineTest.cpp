// Building the line for a table position, with scripted answers to the argument dialogs.
#include "commands/BuildCommandLine.h"

#include <gtest/gtest.h>

#include <deque>

namespace {

class ScriptedPrompter : public ArgumentPrompter {
public:
    std::deque<std::string> ones;
    std::deque<std::pair<std::string, std::string>> twos;
    std::vector<std::string> askedCaptions;

    std::string askOne(const std::string& caption) override {
        askedCaptions.push_back(caption);
        if (ones.empty()) return {};
        std::string v = ones.front();
        ones.pop_front();
        return v;
    }
    std::pair<std::string, std::string> askTwo(const std::string& a, const std::string& b) override {
        askedCaptions.push_back(a + "|" + b);
        if (twos.empty()) return {};
        auto v = twos.front();
        twos.pop_front();
        return v;
    }
};

CommandTable SampleTable() {
    CommandTable t;
    EXPECT_TRUE(t.Parse("{t b [Board Trace]1[ Board No ];d m [Dump]2[Addr][Len];"
                        "x y[Skip]0;s k[KRAU]0;}"));
    t.InsertBuiltIns();
    return t;
}

struct LineCase {
    const char* label;
    int position;
    std::vector<std::string> ones;
    std::vector<std::pair<std::string, std::string>> twos;
    std::string line;
};

} // namespace

TEST(BuildCommandLine, Lines) {
    const std::vector<LineCase> cases = {
        {"no argument", 5, {}, {}, "s k"},
        {"built-in", 2, {}, {}, "t d"},
        // The blank before the name's bracket belongs to the command text.
        {"one argument trimmed", 0, {" \t12 \n"}, {}, "t b  12"},
        {"one argument empty after trim", 0, {"   "}, {}, ""},
        {"one argument dialog closed", 0, {""}, {}, ""},
        {"two arguments", 1, {}, {{" 1000", "20 "}}, "d m  1000 20"},
        {"two arguments, first empty", 1, {}, {{" ", "20"}}, ""},
        {"two arguments, second empty", 1, {}, {{"1000", "\t"}}, ""},
        {"nothing chosen", -1, {}, {}, ""},
        {"unset entry", 30, {}, {}, ""},
        {"beyond the table", 40, {}, {}, ""},
    };
    for (const LineCase& c : cases) {
        CommandTable t = SampleTable();
        ScriptedPrompter p;
        p.ones.assign(c.ones.begin(), c.ones.end());
        p.twos.assign(c.twos.begin(), c.twos.end());
        EXPECT_EQ(BuildCommandLine(t, c.position, p), c.line) << c.label;
    }
}

TEST(BuildCommandLine, DialogsGetTheCaptionsAsWritten) {
    CommandTable t = SampleTable();
    ScriptedPrompter p;
    p.ones = {"5"};
    p.twos = {{"1", "2"}};
    BuildCommandLine(t, 0, p);
    BuildCommandLine(t, 1, p);
    BuildCommandLine(t, 4, p);  // no argument: no dialog
    ASSERT_EQ(p.askedCaptions.size(), 2u);
    EXPECT_EQ(p.askedCaptions[0], " Board No ");
    EXPECT_EQ(p.askedCaptions[1], "Addr|Len");
}

TEST(BuildCommandLine, LinesOverSixtyFourCharactersAreRefused) {
    const std::string text46(46, 'a');
    const std::string text47(47, 'a');
    const std::string text64(64, 'b');
    CommandTable t;
    ASSERT_TRUE(t.Parse("{" + text46 + "[A]2[x][y];" + text47 + "[B]2[x][y];" + text64 + "[C]0;" +
                        text64 + "b[D]0;" + text64 + "[E]1[x];}"));
    t.InsertBuiltIns();
    ScriptedPrompter p;
    p.twos = {{"12345678", "12345678"}, {"12345678", "12345678"}, {"1", "2"}};
    EXPECT_EQ(BuildCommandLine(t, 0, p).size(), 64u) << "exactly 64 fits";
    EXPECT_EQ(BuildCommandLine(t, 1, p), "") << "65 is refused";
    EXPECT_EQ(BuildCommandLine(t, 1, p), text47 + " 1 2") << "short values fit";
    // The third file command and on stand behind the two built-in entries.
    EXPECT_EQ(BuildCommandLine(t, 4, p), text64);
    EXPECT_EQ(BuildCommandLine(t, 5, p), "");
    p.ones = {"1"};
    EXPECT_EQ(BuildCommandLine(t, 6, p), "");
}
