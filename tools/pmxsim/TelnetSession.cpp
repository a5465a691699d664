// The simulated switch's Telnet side: offers, answer checks, IAC handling both ways.
#include "tools/pmxsim/TelnetSession.h"

#include <algorithm>
#include <cstring>

namespace pmxsim {

namespace {
constexpr unsigned char kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251;
constexpr unsigned char kSb = 250, kSe = 240;
constexpr unsigned char kOptEcho = 1, kOptSga = 3, kOptTerminalType = 24;
constexpr unsigned char kIs = 0, kSend = 1;
constexpr size_t kMaxSubnegotiation = 256;
constexpr size_t kDialogueChunk = 65536;
} // namespace

TelnetSession::TelnetSession(SwitchDialogue::Options options) : dialogue_(options) {}

void TelnetSession::Open(Clock::time_point now) {
    Send3(kIac, kDo, kOptTerminalType);
    Send3(kIac, kWill, kOptEcho);
    Send3(kIac, kWill, kOptSga);
    dialogue_.Start(now, /*greet=*/false);
}

void TelnetSession::Send3(unsigned char a, unsigned char b, unsigned char c) {
    out_ += static_cast<char>(a);
    out_ += static_cast<char>(b);
    out_ += static_cast<char>(c);
}

void TelnetSession::Receive(const char* data, size_t length, Clock::time_point now) {
    for (size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        switch (in_) {
        case In::Data:
            if (c == kIac) in_ = In::Iac;
            else data_ += static_cast<char>(c);
            break;
        case In::Iac:
            if (c == kIac) {
                data_ += static_cast<char>(c);  // an escaped data byte 255
                in_ = In::Data;
            } else if (c == kSb) {
                sb_.clear();
                sbOverflow_ = false;
                in_ = In::Sb;
            } else if (c >= kWill) {
                verb_ = c;
                in_ = In::Verb;
            } else {
                in_ = In::Data;  // NOP, DM, GA and the rest carry nothing for us
            }
            break;
        case In::Verb:
            // Answers go out after the data before them has reached the dialogue.
            FlushData(now);
            Command(verb_, c);
            in_ = In::Data;
            break;
        case In::Sb:
            if (c == kIac) in_ = In::SbIac;
            else if (sb_.size() < kMaxSubnegotiation) sb_ += static_cast<char>(c);
            else sbOverflow_ = true;
            break;
        case In::SbIac:
            if (c == kSe) {
                Subnegotiation();
                in_ = In::Data;
            } else {
                if (c == kIac && sb_.size() < kMaxSubnegotiation) sb_ += static_cast<char>(c);
                in_ = In::Sb;
            }
            break;
        }
    }
    FlushData(now);
}

void TelnetSession::FlushData(Clock::time_point now) {
    if (data_.empty()) return;
    dialogue_.Feed(data_.data(), data_.size(), now);
    data_.clear();
}

void TelnetSession::Command(unsigned char verb, unsigned char option) {
    const bool positive = verb == kWill || verb == kDo;
    if (option == kOptTerminalType && (verb == kWill || verb == kWont)) {
        const int before = answers_.terminalType;
        answers_.terminalType = positive ? 1 : 0;
        // Ask for the name each time the terminal agrees anew.
        if (positive && before != 1) {
            out_ += static_cast<char>(kIac);
            out_ += static_cast<char>(kSb);
            out_ += static_cast<char>(kOptTerminalType);
            out_ += static_cast<char>(kSend);
            out_ += static_cast<char>(kIac);
            out_ += static_cast<char>(kSe);
        }
        return;
    }
    if ((option == kOptEcho || option == kOptSga) && (verb == kDo || verb == kDont)) {
        int& state = option == kOptEcho ? answers_.echo : answers_.suppressGoAhead;
        const int before = state;
        state = positive ? 1 : 0;
        // A DONT for an option we had on is acknowledged; one answering our offer is not.
        if (!positive && before == 1) Send3(kIac, kWont, option);
        if (positive && before == 0) Send3(kIac, kWill, option);
        return;
    }
    // Anything else the terminal asks for is declined; its refusals need no answer.
    if (verb == kDo) {
        Send3(kIac, kWont, option);
        ++answers_.refusedByUs;
    } else if (verb == kWill) {
        Send3(kIac, kDont, option);
        ++answers_.refusedByUs;
    }
}

void TelnetSession::Subnegotiation() {
    if (sbOverflow_ || sb_.size() < 2 || static_cast<unsigned char>(sb_[0]) != kOptTerminalType ||
        static_cast<unsigned char>(sb_[1]) != kIs) {
        ++answers_.malformed;
        return;
    }
    answers_.terminalName = sb_.substr(2);
}

bool TelnetSession::NegotiationSettled() const {
    return answers_.echo >= 0 && answers_.suppressGoAhead >= 0 &&
           (answers_.terminalType == 0 ||
            (answers_.terminalType == 1 && !answers_.terminalName.empty()));
}

std::string TelnetSession::Summary() const {
    auto word = [](int v, const char* yes, const char* no) {
        return std::string(v < 0 ? "no answer" : v ? yes : no);
    };
    std::string s = "terminal type ";
    if (answers_.terminalType == 1)
        s += answers_.terminalName.empty() ? "agreed, not named" : '"' + answers_.terminalName + '"';
    else
        s += word(answers_.terminalType, "agreed", "refused");
    s += ", echo " + word(answers_.echo, "accepted", "refused");
    s += ", suppress-go-ahead " + word(answers_.suppressGoAhead, "accepted", "refused");
    if (answers_.refusedByUs) s += ", " + std::to_string(answers_.refusedByUs) + " request(s) declined";
    if (answers_.malformed) s += ", " + std::to_string(answers_.malformed) + " bad subnegotiation(s)";
    return s;
}

size_t TelnetSession::Pull(char* buffer, size_t maximum) {
    size_t n = 0;
    while (n < maximum) {
        if (outPos_ < out_.size()) {
            const size_t take = std::min(maximum - n, out_.size() - outPos_);
            std::memcpy(buffer + n, out_.data() + outPos_, take);
            outPos_ += take;
            n += take;
            if (outPos_ == out_.size()) {
                out_.clear();
                outPos_ = 0;
            }
            continue;
        }
        if (!dialogue_.HasOutput()) break;
        char chunk[kDialogueChunk];
        const size_t got = dialogue_.Pull(chunk, sizeof chunk);
        if (got == 0) break;
        // Runs without a 255 are copied whole; each 255 goes out doubled.
        size_t at = 0;
        while (at < got) {
            const void* iac = std::memchr(chunk + at, kIac, got - at);
            const size_t end = iac ? static_cast<size_t>(static_cast<const char*>(iac) - chunk) + 1 : got;
            out_.append(chunk + at, end - at);
            if (iac) out_ += static_cast<char>(kIac);
            at = end;
        }
    }
    return n;
}

} // namespace pmxsim
