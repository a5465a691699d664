// Command-bar assignment in the settings store: the default rule driven by "B40",
// stored values kept as they are, bad values, and the group each access mode shows.
#include "platform/Profile.h"
#include "commands/ButtonAssignment.h"

#include <gtest/gtest.h>

#include <map>

namespace {

class ButtonAssignmentTest : public ::testing::Test {
protected:
    void SetUp() override { Profile::install(&profile); }
    void TearDown() override { Profile::install(nullptr); }
    int stored(int slot) { return profile.getInt("FunctionBar", ButtonAssignment::Key(slot), -99); }
    MemoryProfile profile;
};

TEST_F(ButtonAssignmentTest, FreshStoreGetsTheDefaultRuleWrittenForAllFortyKeys) {
    ButtonAssignment a;
    a.Load(24);
    for (int s = 0; s < 40; ++s) {
        const int expected = s < 24 ? s : -1;
        EXPECT_EQ(a.at(s), expected) << "slot " << s;
        EXPECT_TRUE(profile.has("FunctionBar", "B" + std::to_string(s + 1))) << s;
        EXPECT_EQ(stored(s), expected) << "B" << s + 1;
    }
}

TEST_F(ButtonAssignmentTest, SmallTableLeavesLaterSlotsEmpty) {
    ButtonAssignment a;
    a.Load(5);
    EXPECT_EQ(a.at(4), 4);
    EXPECT_EQ(a.at(5), -1);
    EXPECT_EQ(a.at(23), -1);
}

struct StoredCase {
    const char* name;
    std::map<int, int> before;  // slot -> stored value
    std::map<int, int> after;   // slot -> value after Load(24)
    bool writesBack;
    bool customized = false;  // saved by Customize
};

TEST_F(ButtonAssignmentTest, LastKeyDecidesWhetherStoredSlotsAreKept) {
    const StoredCase cases[] = {
        // No command on Button 40: slots 0-25 follow the table, 26-38 keep their values.
        {"B40 empty resets the buttons", {{0, 5}, {12, 3}, {25, 1}, {29, 7}, {39, -1}},
         {{0, 0}, {12, 12}, {25, -1}, {29, 7}, {39, -1}}, true},
        // A command on Button 40: every stored value is used as it is, missing ones as -1.
        {"B40 set keeps everything", {{0, 5}, {1, -1}, {12, 3}, {25, 1}, {39, 2}},
         {{0, 5}, {1, -1}, {2, -1}, {12, 3}, {25, 1}, {39, 2}}, false},
        // Saved by Customize: used as saved, B40 empty or not.
        {"customized keeps everything", {{0, 5}, {12, 3}, {25, 1}, {39, -1}},
         {{0, 5}, {1, -1}, {12, 3}, {25, 1}, {39, -1}}, false, true},
    };
    for (const StoredCase& c : cases) {
        profile.clear();
        for (auto [slot, v] : c.before) profile.writeInt("FunctionBar", ButtonAssignment::Key(slot), v);
        if (c.customized) profile.writeInt("FunctionBar", ButtonAssignment::kCustomizedKey, 1);
        ButtonAssignment a;
        a.Load(24);
        for (auto [slot, v] : c.after) {
            EXPECT_EQ(a.at(slot), v) << c.name << ", slot " << slot;
            const int untouched = c.before.count(slot) ? c.before.at(slot) : -99;
            EXPECT_EQ(stored(slot), c.writesBack ? v : untouched) << c.name << ", B" << slot + 1;
        }
    }
}

TEST_F(ButtonAssignmentTest, ValuesThatCannotBeTablePositionsReadAsNoCommand) {
    profile.writeString("FunctionBar", "B1", "99");
    profile.writeString("FunctionBar", "B2", "-7");
    profile.writeString("FunctionBar", "B3", "abc");
    profile.writeString("FunctionBar", "B4", "39");
    profile.writeString("FunctionBar", "B40", "40");
    ButtonAssignment a;
    a.Read();
    EXPECT_EQ(a.at(0), -1);
    EXPECT_EQ(a.at(1), -1);
    EXPECT_EQ(a.at(2), -1);
    EXPECT_EQ(a.at(3), 39);
    EXPECT_EQ(a.at(39), -1) << "so the next fill applies the default rule";
    EXPECT_EQ(a.at(-1), -1);
    EXPECT_EQ(a.at(40), -1);
    a.set(40, 3);  // ignored, no overrun
    a.set(-1, 3);
    EXPECT_EQ(a.values().size(), 40u);
}

TEST(ButtonAssignmentGroups, EachAccessModeShowsItsTwelveSlots) {
    for (int s = -1; s <= 26; ++s) {
        EXPECT_EQ(ButtonAssignment::SlotVisible(s, AccessMode::Monitor), s >= 0 && s <= 11) << s;
        EXPECT_EQ(ButtonAssignment::SlotVisible(s, AccessMode::Maintenance), s >= 12 && s <= 23) << s;
        EXPECT_FALSE(ButtonAssignment::SlotVisible(s, AccessMode::None)) << s;
    }
}

} // namespace
