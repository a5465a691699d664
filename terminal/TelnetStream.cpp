// The Telnet input and suboption machines, table-driven. Runs on the thread that feeds.
#include "terminal/TelnetStream.h"

#include <algorithm>
#include <cstring>
#include <utility>

using namespace Telnet;

namespace {
// Input machine states.
constexpr std::uint8_t kData = 0;
constexpr std::uint8_t kCommand = 1;
constexpr std::uint8_t kWillWont = 2;
constexpr std::uint8_t kDoDont = 3;
constexpr std::uint8_t kSub = 4;
constexpr std::uint8_t kSubIac = 5;
// Suboption machine states.
constexpr std::uint8_t kSubStart = 0;
constexpr std::uint8_t kSubTerminalType = 1;
constexpr std::uint8_t kSubEnd = 2;

constexpr char kTerminalName[] = "VT100";
}  // namespace

// Order matters: a specific byte entry overwrites, an any-byte entry only fills what is
// still unset in its row.
const TelnetStream::Transition TelnetStream::kInputList[] = {
    {kData, kIac, kCommand, nullptr},
    {kData, kAnyByte, kData, &TelnetStream::ShowByte},
    {kCommand, kIac, kData, &TelnetStream::ShowByte},  // escaped 255
    {kCommand, kSb, kSub, nullptr},
    {kCommand, kNop, kData, nullptr},
    {kCommand, kDm, kData, nullptr},
    {kCommand, kWill, kWillWont, &TelnetStream::RememberVerb},
    {kCommand, kWont, kWillWont, &TelnetStream::RememberVerb},
    {kCommand, kDo, kDoDont, &TelnetStream::RememberVerb},
    {kCommand, kDont, kDoDont, &TelnetStream::RememberVerb},
    {kCommand, kAnyByte, kData, nullptr},
    {kSub, kIac, kSubIac, nullptr},
    {kSub, kAnyByte, kSub, &TelnetStream::RunSuboption},
    {kSubIac, kSe, kData, &TelnetStream::ResetSuboption},
    {kSubIac, kAnyByte, kSub, &TelnetStream::RunSuboption},
    {kWillWont, kOptEcho, kData, &TelnetStream::EchoRule},
    {kWillWont, kOptSuppressGoAhead, kData, &TelnetStream::GoAheadRule},
    {kWillWont, kOptTransmitBinary, kData, nullptr},
    {kWillWont, kAnyByte, kData, &TelnetStream::RefuseWill},
    {kDoDont, kOptTerminalType, kData, &TelnetStream::TerminalTypeRule},
    {kDoDont, kOptTransmitBinary, kData, nullptr},
    {kDoDont, kAnyByte, kData, &TelnetStream::RefuseDo},
    {kEndState, 0, 0, nullptr},
};

const TelnetStream::Transition TelnetStream::kSuboptionList[] = {
    {kSubStart, kOptTerminalType, kSubTerminalType, nullptr},
    {kSubStart, kAnyByte, kSubEnd, nullptr},
    {kSubTerminalType, kTerminalTypeSend, kSubEnd, &TelnetStream::SendTerminalType},
    {kSubTerminalType, kAnyByte, kSubEnd, nullptr},
    {kSubEnd, kAnyByte, kSubEnd, nullptr},
    {kEndState, 0, 0, nullptr},
};

TelnetStream::TelnetStream(Writer writer, ReceiveSink* sink)
    : writer_(std::move(writer)), sink_(sink)
{
    BuildTable(kInputList, inputTable_, kInputStates);
    BuildTable(kSuboptionList, suboptionTable_, kSuboptionStates);
}

void TelnetStream::SetWriter(Writer writer) { writer_ = std::move(writer); }

void TelnetStream::SetSink(ReceiveSink* sink) { sink_ = sink; }

void TelnetStream::BuildTable(const Transition* list, std::uint8_t* table, int states)
{
    std::memset(table, kUnset, static_cast<std::size_t>(states) * 256);
    for (int i = 0; list[i].state != kEndState; ++i) {
        const Transition& t = list[i];
        if (t.state >= states)
            continue;
        std::uint8_t* row = table + t.state * 256;
        if (t.byte == kAnyByte) {
            for (int b = 0; b < 256; ++b)
                if (row[b] == kUnset)
                    row[b] = static_cast<std::uint8_t>(i);
        } else if (t.byte < 256) {
            row[t.byte] = static_cast<std::uint8_t>(i);
        }
    }
}

bool TelnetStream::TablesComplete() const
{
    for (std::uint8_t index : inputTable_)
        if (index == kUnset)
            return false;
    for (std::uint8_t index : suboptionTable_)
        if (index == kUnset)
            return false;
    return true;
}

void TelnetStream::Run(const Transition* list, const std::uint8_t* table, int states,
                       std::uint8_t& state, unsigned char byte)
{
    if (state >= states)
        state = 0;
    const std::uint8_t index = table[state * 256 + byte];
    if (index == kUnset) {  // cannot happen with complete tables; never read past the list
        state = 0;
        return;
    }
    const Transition& t = list[index];
    const std::uint32_t generation = generation_;
    if (t.action)
        (this->*t.action)(byte);
    if (generation == generation_)  // a Reset inside the action already chose the state
        state = t.next;
}

void TelnetStream::Reset()
{
    inputState_ = kData;
    suboptionState_ = kSubStart;
    verb_ = 0;
    remoteEcho_ = 0;
    goAhead_ = 0;
    terminalType_ = 0;
    pending_.clear();
    ++generation_;
}

void TelnetStream::Feed(const char* bytes, int count)
{
    if (bytes && count > 0)
        Feed(reinterpret_cast<const unsigned char*>(bytes), static_cast<std::size_t>(count));
}

void TelnetStream::Feed(const unsigned char* bytes, std::size_t count)
{
    if (!bytes || count == 0)
        return;
    if (feeding_) {
        // Reached from inside an action (a sink running a nested event loop): these
        // bytes came later on the wire, so they wait behind the ones being run.
        pending_.insert(pending_.end(), bytes, bytes + count);
        return;
    }
    feeding_ = true;
    RunBytes(bytes, count);
    std::vector<unsigned char> queued;
    while (!pending_.empty()) {
        queued.clear();
        queued.swap(pending_);
        RunBytes(queued.data(), queued.size());
    }
    feeding_ = false;
}

void TelnetStream::RunBytes(const unsigned char* bytes, std::size_t count)
{
    const std::uint32_t generation = generation_;
    std::size_t i = 0;
    auto nextIac = [&](std::size_t from) {
        const void* iac = std::memchr(bytes + from, kIac, count - from);
        return iac ? static_cast<std::size_t>(static_cast<const unsigned char*>(iac) - bytes) : count;
    };
    while (i < count) {
        const bool data = inputState_ == kData;
        const std::size_t end = data ? nextIac(i) : i;
        if (data && end + 1 < count && bytes[end] == kIac && bytes[end + 1] == kIac) {
            // Escaped 255s inside data: the run goes over with them undoubled, in blocks
            // of up to sizeof run_, rather than a call per 255, so a stream of them costs
            // no more than text (and nothing is allocated).
            std::size_t fill = 0, k = i, plainEnd = end;
            for (;;) {
                while (k < plainEnd) {
                    const std::size_t take = std::min(plainEnd - k, sizeof run_ - fill);
                    std::memcpy(run_ + fill, bytes + k, take);
                    fill += take;
                    k += take;
                    if (fill == sizeof run_) {
                        ShowRun(run_, fill);
                        fill = 0;
                        if (generation != generation_) return;
                    }
                }
                if (k + 1 >= count || bytes[k] != kIac || bytes[k + 1] != kIac) break;
                run_[fill++] = kIac;
                k += 2;
                if (fill == sizeof run_) {
                    ShowRun(run_, fill);
                    fill = 0;
                    if (generation != generation_) return;
                }
                plainEnd = nextIac(k);
            }
            if (fill > 0) ShowRun(run_, fill);
            i = k;
        } else if (end > i) {
            // In the data state every byte but IAC is shown and keeps the state, so
            // the whole run up to the next IAC goes over at once.
            ShowRun(bytes + i, end - i);
            i = end;
        } else {
            Run(kInputList, inputTable_, kInputStates, inputState_, bytes[i]);
            ++i;
        }
        // A reset from inside an action means a new connection: the rest belongs to the old one.
        if (generation != generation_)
            return;
    }
}

namespace {
thread_local int t_delivering = 0;
}  // namespace

bool TelnetStream::DeliveringData() { return t_delivering > 0; }

void TelnetStream::Deliver(const unsigned char* bytes, std::size_t count)
{
    ++t_delivering;
    sink_->AppendReceived(reinterpret_cast<const char*>(bytes), static_cast<int>(count));
    --t_delivering;
}

void TelnetStream::ShowRun(const unsigned char* bytes, std::size_t count)
{
    if (!sink_)
        return;
    // A zero byte shows nothing, and a text ends at its first zero byte: the pieces
    // around it go over separately. Pieces stay below the sink's int length.
    constexpr std::size_t kMaxPiece = 1u << 30;
    const std::uint32_t generation = generation_;
    while (count > 0) {
        const void* nul = std::memchr(bytes, 0, count);
        std::size_t n = nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - bytes) : count;
        n = std::min(n, kMaxPiece);
        if (n > 0) {
            Deliver(bytes, n);
            if (generation != generation_)
                return;
        }
        const std::size_t skip = (nul && n < kMaxPiece) ? n + 1 : n;
        bytes += skip;
        count -= skip;
    }
}

void TelnetStream::ShowByte(unsigned char byte)
{
    if (sink_ && byte != 0)
        Deliver(&byte, 1);
}

void TelnetStream::RememberVerb(unsigned char byte) { verb_ = byte; }

void TelnetStream::RunSuboption(unsigned char byte)
{
    Run(kSuboptionList, suboptionTable_, kSuboptionStates, suboptionState_, byte);
}

void TelnetStream::ResetSuboption(unsigned char) { suboptionState_ = kSubStart; }

void TelnetStream::EchoRule(unsigned char option)
{
    if ((remoteEcho_ && verb_ == kWill) || (!remoteEcho_ && verb_ == kWont))
        return;
    remoteEcho_ = remoteEcho_ ? 0 : 1;
    WriteOneByOne(kIac, remoteEcho_ ? kDo : kDont, option);
}

void TelnetStream::GoAheadRule(unsigned char option)
{
    if (verb_ == kWont)
        return;
    WriteOneByOne(kIac, kDont, option);
}

void TelnetStream::TerminalTypeRule(unsigned char option)
{
    if ((terminalType_ && verb_ == kDo) || (!terminalType_ && verb_ == kDont))
        return;
    terminalType_ = terminalType_ ? 0 : 1;
    WriteOneByOne(kIac, terminalType_ ? kWill : kWont, option);
}

void TelnetStream::RefuseWill(unsigned char option)
{
    const unsigned char reply[3] = {kIac, kDont, option};
    Write(reply, 3);
}

void TelnetStream::RefuseDo(unsigned char option)
{
    const unsigned char reply[3] = {kIac, kWont, option};
    Write(reply, 3);
}

void TelnetStream::SendTerminalType(unsigned char)
{
    unsigned char reply[11] = {kIac, kSb, kOptTerminalType, kTerminalTypeIs};
    std::memcpy(reply + 4, kTerminalName, 5);
    reply[9] = kIac;
    reply[10] = kSe;
    Write(reply, 11);
}

void TelnetStream::Write(const unsigned char* bytes, int count)
{
    if (writer_)
        writer_(reinterpret_cast<const char*>(bytes), count);
}

void TelnetStream::WriteOneByOne(unsigned char a, unsigned char b, unsigned char c)
{
    // A reset from inside the writer means a new connection: the rest of the reply
    // belongs to the old one.
    const std::uint32_t generation = generation_;
    for (unsigned char byte : {a, b, c}) {
        if (generation != generation_)
            return;
        Write(&byte, 1);
    }
}
