// The modem link's dial string: a copy of what the phone book hands over, at most 83
// characters, never a cut-off number.
#include "links/CModemLink.h"

#include <gtest/gtest.h>

TEST(CModemLinkDestination, HoldsUpTo83Characters) {
    CModemLink link;
    EXPECT_EQ(link.GetDestination(), "0");

    char text[] = "9,0221 555 0100";
    EXPECT_TRUE(link.SetDestination(text));
    text[0] = 'X';
    EXPECT_EQ(link.GetDestination(), "9,0221 555 0100") << "a copy, not the caller's buffer";

    const std::string fits(83, '7');
    EXPECT_TRUE(link.SetDestination(fits.c_str()));
    EXPECT_EQ(link.GetDestination(), fits);

    const std::string tooLong(84, '8');
    EXPECT_FALSE(link.SetDestination(tooLong.c_str()));
    EXPECT_EQ(link.GetDestination(), "") << "refused, and the previous number is not dialled instead";

    EXPECT_TRUE(link.SetDestination("12"));
    EXPECT_FALSE(link.SetDestination(nullptr));
    EXPECT_EQ(link.GetDestination(), "");
}
