// One Telnet connection to the simulated switch, apart from its socket: offers the
// options a maintenance port asks for, checks the terminal's answers, takes the
// Telnet commands out of what arrives and doubles IAC in what goes out. The data in
// between is the switch's dialogue. Single-threaded.
#pragma once

#include "tools/pmxsim/SwitchDialogue.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace pmxsim {

class TelnetSession {
public:
    using Clock = SwitchDialogue::Clock;

    // What the terminal answered to the offers; -1 while an answer is outstanding.
    struct Answers {
        int terminalType = -1;   // 1: WILL TERMINAL-TYPE, 0: WONT
        int echo = -1;           // 1: DO ECHO (we echo), 0: DONT
        int suppressGoAhead = -1;  // 1: DO SUPPRESS-GO-AHEAD, 0: DONT
        std::string terminalName;  // from SB TERMINAL-TYPE IS ... SE
        int refusedByUs = 0;     // options the terminal asked for that we declined
        int malformed = 0;       // subnegotiations too long or not understood
    };

    explicit TelnetSession(SwitchDialogue::Options options);

    // The connection is up: queues the opening offers. The dialogue waits for the
    // terminal's first carriage return before it greets.
    void Open(Clock::time_point now);
    // Bytes from the terminal: Telnet commands are handled here, data goes on.
    void Receive(const char* data, size_t length, Clock::time_point now);
    void Tick(Clock::time_point now) { dialogue_.Tick(now); }
    int MsUntilDue(Clock::time_point now) const { return dialogue_.MsUntilDue(now); }

    bool HasOutput() const { return outPos_ < out_.size() || dialogue_.HasOutput(); }
    // Up to maximum bytes for the wire: negotiation and data, each 255 of the data doubled.
    size_t Pull(char* buffer, size_t maximum);

    const Answers& answers() const { return answers_; }
    // Every offer answered and the terminal type named (or refused).
    bool NegotiationSettled() const;
    // One line on how the terminal answered, for the log.
    std::string Summary() const;

private:
    enum class In : std::uint8_t { Data, Iac, Verb, Sb, SbIac };

    void Command(unsigned char verb, unsigned char option);
    void Subnegotiation();
    void Send3(unsigned char a, unsigned char b, unsigned char c);
    void FlushData(Clock::time_point now);

    SwitchDialogue dialogue_;
    Answers answers_;
    In in_ = In::Data;
    unsigned char verb_ = 0;
    std::string sb_;        // subnegotiation bytes after SB, before IAC SE
    bool sbOverflow_ = false;
    std::string data_;      // data bytes of the current Receive, for the dialogue
    std::string out_;       // bytes for the wire, already escaped
    size_t outPos_ = 0;
};

} // namespace pmxsim
