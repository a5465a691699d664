// The Telnet stream of one LAN or ISDN connection: separates the switch's data bytes from
// its Telnet commands and answers option negotiation. Fed on the thread that receives the
// link's blocks (the GUI thread for LAN, the ISDN read thread for ISDN), one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "terminal/ReceiveSink.h"

namespace Telnet {
// Command bytes.
inline constexpr unsigned char kIac = 255;
inline constexpr unsigned char kDont = 254;
inline constexpr unsigned char kDo = 253;
inline constexpr unsigned char kWont = 252;
inline constexpr unsigned char kWill = 251;
inline constexpr unsigned char kSb = 250;
inline constexpr unsigned char kDm = 242;
inline constexpr unsigned char kNop = 241;
inline constexpr unsigned char kSe = 240;
// Options.
inline constexpr unsigned char kOptTransmitBinary = 0;
inline constexpr unsigned char kOptEcho = 1;
inline constexpr unsigned char kOptSuppressGoAhead = 3;
inline constexpr unsigned char kOptTerminalType = 24;
// Terminal-type sub-commands.
inline constexpr unsigned char kTerminalTypeIs = 0;
inline constexpr unsigned char kTerminalTypeSend = 1;
}  // namespace Telnet

class TelnetStream {
public:
    // Writes reply bytes to the link the stream comes from; the return value is not used.
    using Writer = std::function<int(const char* bytes, int count)>;

    enum class InputState : std::uint8_t {
        Data = 0,
        Command = 1,
        WillOrWontOption = 2,
        DoOrDontOption = 3,
        Subnegotiation = 4,
        SubnegotiationIac = 5,
    };
    enum class SuboptionState : std::uint8_t { Start = 0, TerminalType = 1, End = 2 };

    // Builds both transition tables and starts both machines in state 0.
    // Either argument may be empty/null: replies or data are then dropped.
    TelnetStream(Writer writer, ReceiveSink* sink);

    void SetWriter(Writer writer);
    void SetSink(ReceiveSink* sink);

    // Forgets everything a previous connection left: both machines back to their start
    // states, the remembered verb and the three flags cleared. Call at every connect.
    void Reset();

    // Runs the input machine on each byte in order. Each run of consecutive data bytes
    // goes to the sink in one AppendReceived call (a zero byte shows nothing and splits
    // the run); replies go to the writer. A Feed made from inside the sink or
    // the writer (a nested event loop) is queued behind the bytes being run, so the
    // stream keeps its order.
    void Feed(const unsigned char* bytes, std::size_t count);
    void Feed(const char* bytes, int count);

    InputState inputState() const { return static_cast<InputState>(inputState_); }
    SuboptionState suboptionState() const { return static_cast<SuboptionState>(suboptionState_); }
    bool remoteEcho() const { return remoteEcho_ != 0; }
    bool goAhead() const { return goAhead_ != 0; }
    bool terminalTypeAgreed() const { return terminalType_ != 0; }

    // True when every state of both machines has an entry for every byte.
    bool TablesComplete() const;

    // True on this thread while a stream hands data to its sink. Each data byte is a
    // text of its own on the wire's terms, so whatever reacts to text per block (the
    // prompt matcher) treats such a block as that many one-byte blocks.
    static bool DeliveringData();

private:
    using Action = void (TelnetStream::*)(unsigned char);

    // One entry of a transition list; a list ends with an entry whose state is kEndState.
    struct Transition {
        std::uint8_t state;
        std::uint16_t byte;  // 0..255, or kAnyByte
        std::uint8_t next;
        Action action;
    };
    static constexpr std::uint16_t kAnyByte = 257;
    static constexpr std::uint8_t kEndState = 255;
    static constexpr std::uint8_t kUnset = 255;
    static constexpr int kInputStates = 6;
    static constexpr int kSuboptionStates = 3;

    static const Transition kInputList[];
    static const Transition kSuboptionList[];

    static void BuildTable(const Transition* list, std::uint8_t* table, int states);
    void Run(const Transition* list, const std::uint8_t* table, int states,
             std::uint8_t& state, unsigned char byte);
    void RunBytes(const unsigned char* bytes, std::size_t count);

    // Actions.
    void ShowByte(unsigned char byte);
    // The data state's transitions applied to a run holding no IAC, at once.
    void ShowRun(const unsigned char* bytes, std::size_t count);
    void Deliver(const unsigned char* bytes, std::size_t count);
    void RememberVerb(unsigned char byte);
    void RunSuboption(unsigned char byte);
    void ResetSuboption(unsigned char byte);
    void EchoRule(unsigned char option);
    void GoAheadRule(unsigned char option);
    void TerminalTypeRule(unsigned char option);
    void RefuseWill(unsigned char option);
    void RefuseDo(unsigned char option);
    void SendTerminalType(unsigned char byte);

    void Write(const unsigned char* bytes, int count);
    void WriteOneByOne(unsigned char a, unsigned char b, unsigned char c);

    Writer writer_;
    ReceiveSink* sink_;

    std::uint8_t inputTable_[kInputStates * 256];
    std::uint8_t suboptionTable_[kSuboptionStates * 256];

    std::uint8_t inputState_ = 0;
    std::uint8_t suboptionState_ = 0;
    unsigned char verb_ = 0;
    std::uint8_t remoteEcho_ = 0;
    std::uint8_t goAhead_ = 0;  // never set: go-ahead suppression is always refused
    std::uint8_t terminalType_ = 0;

    bool feeding_ = false;
    std::uint32_t generation_ = 0;  // bumped by Reset so an interrupted Feed stops
    std::vector<unsigned char> pending_;
    unsigned char run_[4096];  // a data run with its escaped 255s undoubled
};
