// The switch's maintenance dialogue: login, the two command levels and their
// commands, log-out, the idle cancel and the flood for throughput tests.
#include "tools/pmxsim/SwitchDialogue.h"
#include "tools/pmxsim/FloodPattern.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pmxsim {

namespace {
constexpr const char* kBanner =
    "\r\n\r\nPMX 2000 Digital Switching System\r\n"
    "Release 7.2.1   Site 0042\r\n"
    "Remote Maintenance Utility...";
constexpr const char* kPasswordPrompt = "\r\nPASSWORD:";
constexpr size_t kMaxLine = 256;
constexpr size_t kMaxHeldInput = 4096;
constexpr uint64_t kMaxFlood = 1ull << 40;

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return std::string();
    size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
} // namespace

SwitchDialogue::SwitchDialogue(Options options) : options_(options) {}

void SwitchDialogue::Start(Clock::time_point now, bool greet) {
    state_ = State::LoggedOut;
    line_.clear();
    if (greet) Greet(now);
}

void SwitchDialogue::Greet(Clock::time_point now) {
    Emit(kBanner);
    Emit(kPasswordPrompt);
    state_ = State::Password;
    passwordSince_ = now;
}

void SwitchDialogue::Prompt() { Emit(state_ == State::Maint ? "\r\nmaint>" : "\r\nmon>"); }

void SwitchDialogue::Feed(const char* data, size_t length, Clock::time_point now) {
    for (size_t i = 0; i < length; ++i) {
        if (floodLeft_ > 0) {
            if (heldInput_.size() < kMaxHeldInput) heldInput_ += data[i];
            continue;
        }
        Byte(data[i], now);
    }
}

void SwitchDialogue::Byte(char c, Clock::time_point now) {
    if (state_ == State::Password) passwordSince_ = now;
    const bool echo = state_ == State::Maint || state_ == State::Mon;
    switch (c) {
    case '\r': {
        std::string line;
        line.swap(line_);
        if (echo) Emit("\r\n");
        Line(line, now);
        return;
    }
    case '\n':
    case '\0':
        return;
    case '\b':
    case 0x7f:
        if (!line_.empty()) {
            line_.pop_back();
            if (echo) Emit("\b \b");
        }
        return;
    default:
        if (line_.size() >= kMaxLine) return;
        line_ += c;
        if (echo) out_ += c;
    }
}

void SwitchDialogue::Line(const std::string& raw, Clock::time_point now) {
    const std::string line = Trim(raw);
    switch (state_) {
    case State::LoggedOut:
        Greet(now);
        return;
    case State::Password:
        if (line.empty()) {
            Greet(now);
        } else if (line == "velmod") {
            Emit("\r\n\r\nMaintenance level access granted.\r\n");
            state_ = State::Maint;
            Prompt();
        } else if (line == "quarth") {
            Emit("\r\n\r\nMonitor level access granted.\r\n");
            state_ = State::Mon;
            Prompt();
        } else {
            Emit("\r\nInvalid password - access denied.\r\n");
            Emit(kPasswordPrompt);
            passwordSince_ = now;
        }
        return;
    case State::Maint:
    case State::Mon:
        if (Lower(line) == "x") {
            Emit("Logged out.\r\n");
            Greet(now);
            return;
        }
        Command(line);
        return;
    }
}

void SwitchDialogue::Command(const std::string& line) {
    const std::string cmd = Lower(line);
    if (cmd.empty()) {
        Prompt();
        return;
    }
    if (cmd.rfind("flood", 0) == 0) {
        const char* arg = line.c_str() + 5;
        char* end = nullptr;
        unsigned long long n = std::strtoull(arg, &end, 10);
        if (end == arg || *end != '\0' || n > kMaxFlood) {
            Emit("?? Usage: flood <bytes>\r\n");
            Prompt();
            return;
        }
        floodLeft_ = n;
        floodIndex_ = 0;
        afterFlood_ = state_ == State::Maint ? "\r\nmaint>" : "\r\nmon>";
        if (n == 0) Prompt();
        return;
    }
    if (commands_.Run(line, state_ == State::Maint, out_) == SwitchCommands::Answer::Unknown)
        Emit("?? Unknown command: " + line + "\r\n");
    Prompt();
}

void SwitchDialogue::Tick(Clock::time_point now) {
    if (state_ == State::Password && floodLeft_ == 0 && now - passwordSince_ >= options_.idleCancel) {
        Emit("\r\nCanceled!\r\n");
        state_ = State::LoggedOut;
        line_.clear();
    }
}

int SwitchDialogue::MsUntilDue(Clock::time_point now) const {
    if (state_ != State::Password) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    passwordSince_ + options_.idleCancel - now).count();
    return left < 0 ? 0 : static_cast<int>(left > 60000 ? 60000 : left);
}

bool SwitchDialogue::HasOutput() const { return outPos_ < out_.size() || floodLeft_ > 0; }

size_t SwitchDialogue::Pull(char* buffer, size_t maximum) {
    size_t n = 0;
    while (n < maximum) {
        if (outPos_ < out_.size()) {
            size_t take = std::min(maximum - n, out_.size() - outPos_);
            std::memcpy(buffer + n, out_.data() + outPos_, take);
            outPos_ += take;
            n += take;
            if (outPos_ == out_.size()) {
                out_.clear();
                outPos_ = 0;
            }
            continue;
        }
        if (floodLeft_ == 0) break;
        const size_t take = static_cast<size_t>(std::min<uint64_t>(maximum - n, floodLeft_));
        FloodFill(floodIndex_, buffer + n, take);
        floodIndex_ += take;
        floodLeft_ -= take;
        n += take;
        if (floodLeft_ == 0) {
            Emit(afterFlood_);
            // What was typed meanwhile is handled now, in order.
            std::string held;
            held.swap(heldInput_);
            Feed(held.data(), held.size(), Clock::now());
        }
    }
    return n;
}

} // namespace pmxsim
