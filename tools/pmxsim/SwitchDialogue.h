// The switch's maintenance dialogue, apart from any transport: bytes from the
// terminal go in with Feed, the switch's answer comes out with Pull. Single-threaded.
#pragma once

#include "tools/pmxsim/SwitchCommands.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace pmxsim {

class SwitchDialogue {
public:
    using Clock = std::chrono::steady_clock;

    struct Options {
        // The password prompt gives up after this long without input.
        std::chrono::milliseconds idleCancel{30000};
    };

    explicit SwitchDialogue(Options options);

    // A new connection: with greet the banner and password prompt go out at once
    // (a call that connects); without, the first carriage return brings them, as
    // on a maintenance port that nobody may be listening to.
    void Start(Clock::time_point now, bool greet);
    void Feed(const char* data, size_t length, Clock::time_point now);
    // Runs the idle cancel when due.
    void Tick(Clock::time_point now);
    // Milliseconds until Tick has something to do (-1: nothing pending).
    int MsUntilDue(Clock::time_point now) const;

    bool HasOutput() const;
    // Takes up to maximum bytes of the answer.
    size_t Pull(char* buffer, size_t maximum);

private:
    enum class State { LoggedOut, Password, Maint, Mon };

    void Byte(char c, Clock::time_point now);
    void Line(const std::string& line, Clock::time_point now);
    void Command(const std::string& line);
    void Greet(Clock::time_point now);
    void Prompt();
    void Emit(const std::string& text) { out_ += text; }

    Options options_;
    State state_ = State::LoggedOut;
    std::string line_;
    std::string out_;
    size_t outPos_ = 0;
    uint64_t floodLeft_ = 0;
    uint64_t floodIndex_ = 0;
    std::string afterFlood_;
    std::string heldInput_;  // typed while a flood runs
    Clock::time_point passwordSince_{};
    SwitchCommands commands_;
};

} // namespace pmxsim
