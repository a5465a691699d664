// The simulator's serial pace, on a clock the test sets: a slice's worth at a time,
// the rate held over a long stream, and no burst saved up by a pause.
#include "tools/pmxsim/LinePacer.h"

#include <gtest/gtest.h>

using pmxsim::LinePacer;
using namespace std::chrono_literals;

TEST(LinePacer, SendsAtTheLineRateWithoutBurstsAfterAPause) {
    LinePacer pacer(115200);  // 11,520 bytes a second, 57 in a 5 ms slice
    const auto t0 = LinePacer::Clock::time_point{} + 1h;
    EXPECT_EQ(pacer.Allowed(t0, true), 57u);
    pacer.Sent(57);
    EXPECT_EQ(pacer.Allowed(t0 + 4ms, false), 0u);
    EXPECT_EQ(pacer.Allowed(t0 + 5ms, false), 115u - 57u);
    // Sending whatever is allowed, slice by slice, for ten seconds.
    size_t sent = 57;
    for (auto t = t0 + 5ms; t < t0 + 10s; t += 5ms) {
        const size_t n = pacer.Allowed(t, false);
        pacer.Sent(n);
        sent += n;
    }
    EXPECT_NEAR(double(sent), 115200.0, 60.0);
    // A minute with nothing to send earns no burst.
    EXPECT_EQ(pacer.Allowed(t0 + 70s, true), 57u);

    LinePacer unpaced(0);
    EXPECT_EQ(unpaced.Allowed(t0, true), SIZE_MAX);
    EXPECT_EQ(unpaced.MsUntilNext(), -1);
}
