// A Hayes-compatible modem in front of the switch: AT commands in command mode (with
// echo and numeric result codes when asked), ATD dials (CONNECT, BUSY, NO CARRIER or
// DELAYED after a short delay), and once connected the (until a carrier loss, if asked)
// switch's dialogue until "+++" brings the modem back to commands. The same Feed/Pull
// interface as SwitchDialogue, so the simulator's serve loop drives either.
// Single-threaded.
#pragma once

#include "tools/pmxsim/SwitchDialogue.h"

#include <memory>
#include <set>
#include <string>

namespace pmxsim {

class HayesModem {
public:
    using Clock = SwitchDialogue::Clock;

    struct Options {
        std::set<std::string> busy;      // numbers that answer BUSY (digits only)
        std::set<std::string> noAnswer;  // numbers that answer NO CARRIER
        std::set<std::string> delayed;   // numbers the modem refuses to redial yet (DELAYED)
        std::chrono::milliseconds connectDelay{400};
        // A call that connects loses its carrier this long after CONNECT (0: never):
        // "NO CARRIER", and the modem is back in command mode.
        std::chrono::milliseconds carrierLoss{0};
        // Carriage returns the switch needs before it wakes (it ignores the earlier ones).
        int answerAfter = 1;
        SwitchDialogue::Options switchOptions;
    };

    explicit HayesModem(Options options);

    void Start(Clock::time_point now, bool greet);
    void Feed(const char* data, size_t length, Clock::time_point now);
    void Tick(Clock::time_point now);
    int MsUntilDue(Clock::time_point now) const;
    bool HasOutput() const;
    size_t Pull(char* buffer, size_t maximum);

    bool online() const { return state_ == State::Online; }
    // The digits a dial string names: "T", "P", spaces, dashes and pauses dropped.
    static std::string Digits(const std::string& dialString);

private:
    enum class State { Command, Dialing, Online };
    enum class Outcome { Connect, Busy, NoCarrier, Delayed };

    void CommandByte(char c, Clock::time_point now);
    void CommandLine(const std::string& line, Clock::time_point now);
    void OnlineBytes(const char* data, size_t length, Clock::time_point now);
    void ToSwitch(const char* data, size_t length, Clock::time_point now);
    // Words (ATV1) or the number (ATV0).
    void Result(const char* code);

    Options options_;
    State state_ = State::Command;
    std::string line_;
    std::string out_;
    bool echo_ = false;     // ATE1
    bool verbose_ = true;   // ATV0 gives numeric result codes
    size_t outPos_ = 0;

    Outcome outcome_ = Outcome::Connect;
    bool ringingSent_ = false;
    Clock::time_point ringAt_{};
    Clock::time_point resultAt_{};
    Clock::time_point carrierLossAt_{};

    std::unique_ptr<SwitchDialogue> dialogue_;  // while a call is up
    bool escaped_ = false;                       // call up, modem back in command mode
    int plusRun_ = 0;
    int carriageReturns_ = 0;
};

} // namespace pmxsim
