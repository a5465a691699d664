// Input history: order, repeats, the bound, the walk with the typed draft, and the
// settings round trip.
#include "platform/Profile.h"
#include "commands/InputHistory.h"

#include <gtest/gtest.h>

namespace {

TEST(InputHistoryTest, WalksNewestFirstWithoutRepeatsAndKeepsTheDraft) {
    InputHistory h;
    for (const char* line : {"t d", "t p", "t p", "", "s s"}) h.Add(line);
    EXPECT_EQ(h.lines(), (std::vector<std::string>{"s s", "t p", "t d"}));

    std::string shown;
    EXPECT_FALSE(h.Newer(&shown));  // no walk yet
    ASSERT_TRUE(h.Older("half typ", &shown));
    EXPECT_EQ(shown, "s s");
    ASSERT_TRUE(h.Older(shown, &shown));
    ASSERT_TRUE(h.Older(shown, &shown));
    EXPECT_EQ(shown, "t d");
    EXPECT_FALSE(h.Older(shown, &shown));  // stays at the oldest
    ASSERT_TRUE(h.Newer(&shown));
    EXPECT_EQ(shown, "t p");
    ASSERT_TRUE(h.Newer(&shown));
    ASSERT_TRUE(h.Newer(&shown));
    EXPECT_EQ(shown, "half typ");
    EXPECT_FALSE(h.Newer(&shown));

    // A repeat that is not in a row is kept; a send starts the walk again.
    h.Add("t d");
    ASSERT_TRUE(h.Older("", &shown));
    EXPECT_EQ(shown, "t d");
}

TEST(InputHistoryTest, KeepsTheNewestHundredAcrossRuns) {
    MemoryProfile profile;
    Profile::install(&profile);
    InputHistory h;
    for (int i = 0; i < 130; ++i) h.Add("cmd " + std::to_string(i));
    ASSERT_EQ(h.lines().size(), 100u);
    h.Save();

    InputHistory next;
    next.Load();
    EXPECT_EQ(next.lines(), h.lines());
    EXPECT_EQ(next.lines().front(), "cmd 129");
    EXPECT_EQ(next.lines().back(), "cmd 30");
    EXPECT_EQ(profile.getString(InputHistory::kSection, "Line1", ""), "cmd 129");

    // A damaged count reads as far as it can, never past the bound.
    profile.writeInt(InputHistory::kSection, "Count", 100000);
    next.Load();
    EXPECT_EQ(next.lines().size(), 100u);
    Profile::install(nullptr);
}

} // namespace
