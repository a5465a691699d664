// Output no faster than a serial line (pmxsim --baud): a pty alone passes any amount
// at once, which no real port does.
#pragma once

#include "tools/pmxsim/SwitchDialogue.h"

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace pmxsim {

// Ten bits a byte (8N1), handed over in 5 ms slices as a UART's interrupts would.
class LinePacer {
public:
    using Clock = pmxsim::SwitchDialogue::Clock;
    explicit LinePacer(long baud) : bytesPerSecond_(baud / 10.0) {}
    // Bytes that may go now; a pause in the output does not save up a burst.
    size_t Allowed(Clock::time_point now, bool wasIdle) {
        if (bytesPerSecond_ <= 0) return SIZE_MAX;
        if (wasIdle) {
            start_ = now;
            sent_ = 0;
        }
        const auto slices = std::chrono::duration_cast<std::chrono::milliseconds>(now - start_).count() / kSliceMs + 1;
        const auto due = static_cast<uint64_t>(double(slices) * kSliceMs / 1000.0 * bytesPerSecond_);
        return due > sent_ ? static_cast<size_t>(due - sent_) : 0;
    }
    void Sent(size_t n) { sent_ += n; }
    // Poll time-out while held back: the next slice.
    int MsUntilNext() const { return bytesPerSecond_ > 0 ? kSliceMs : -1; }

private:
    static constexpr long kSliceMs = 5;
    double bytesPerSecond_;
    Clock::time_point start_{};
    uint64_t sent_ = 0;
};

} // namespace pmxsim
