// The in-memory profile keeps ints and strings per section, with defaults for missing keys.
#include "platform/Profile.h"

#include <gtest/gtest.h>

TEST(MemoryProfile, DefaultsAndRoundTrip) {
    MemoryProfile p;
    EXPECT_EQ(p.getInt("SerialPort", "Port", -1), -1);
    EXPECT_EQ(p.getString("Server", "History 0", "none"), "none");
    p.writeInt("SerialPort", "Port", 3);
    p.writeString("Server", "History 0", "10.0.0.1");
    EXPECT_EQ(p.getInt("SerialPort", "Port", -1), 3);
    EXPECT_EQ(p.getInt("Serialport", "Port", -1), -1) << "sections are distinct";
    EXPECT_EQ(p.getString("Server", "History 0", ""), "10.0.0.1");
    p.writeString("X", "Y", "abc");
    EXPECT_EQ(p.getInt("X", "Y", 7), 7) << "a non-number reads as the default";
}
