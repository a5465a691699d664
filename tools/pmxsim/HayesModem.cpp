// The simulated modem's command interpreter and call states.
#include "tools/pmxsim/HayesModem.h"

#include <algorithm>
#include <cctype>

namespace pmxsim {

HayesModem::HayesModem(Options options) : options_(std::move(options)) {}

std::string HayesModem::Digits(const std::string& dialString) {
    std::string digits;
    for (char c : dialString)
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '*' || c == '#') digits += c;
    return digits;
}

void HayesModem::Result(const char* code) {
    if (verbose_) {
        out_ += std::string("\r\n") + code + "\r\n";
        return;
    }
    static const struct {
        const char* words;
        const char* number;
    } kCodes[] = {{"OK", "0"},    {"CONNECT", "1"}, {"NO CARRIER", "3"}, {"ERROR", "4"},
                  {"BUSY", "7"},  {"NO ANSWER", "8"}, {"DELAYED", "24"}};
    const std::string c = code;
    for (const auto& k : kCodes) {
        if (c == k.words || (c.rfind("CONNECT", 0) == 0 && std::string(k.words) == "CONNECT")) {
            out_ += std::string(k.number) + "\r";
            return;
        }
    }
    // RINGING has no number: a modem in numeric mode keeps quiet about it.
}

void HayesModem::Start(Clock::time_point, bool) {
    state_ = State::Command;
    line_.clear();
}

void HayesModem::Feed(const char* data, size_t length, Clock::time_point now) {
    if (state_ == State::Online && !escaped_) {
        OnlineBytes(data, length, now);
        return;
    }
    for (size_t i = 0; i < length; ++i) {
        if (state_ == State::Dialing) {
            // Any character abandons a dial, as on a real modem.
            state_ = State::Command;
            Result("NO CARRIER");
            continue;
        }
        CommandByte(data[i], now);
    }
}

void HayesModem::CommandByte(char c, Clock::time_point now) {
    if (echo_) out_ += c;
    if (c == '\r') {
        std::string line;
        line.swap(line_);
        CommandLine(line, now);
    } else if (c != '\n' && line_.size() < 256) {
        line_ += c;
    }
}

void HayesModem::CommandLine(const std::string& raw, Clock::time_point now) {
    std::string line = raw;
    line.erase(std::remove(line.begin(), line.end(), ' '), line.end());
    if (line.size() < 2 || std::toupper(static_cast<unsigned char>(line[0])) != 'A' ||
        std::toupper(static_cast<unsigned char>(line[1])) != 'T')
        return;  // not a command
    std::string upper = line.substr(2);
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    // Settings first, as in "ATE1V0" or "ATZE1"; a dial or hang-up ends the line.
    size_t k = 0;
    while (k < upper.size() && std::string("EVZQ&").find(upper[k]) != std::string::npos) {
        const char cmd = upper[k++];
        if (cmd == '&' && k < upper.size()) ++k;  // &F, &C1 ...: accepted, nothing to do
        int value = 0;
        while (k < upper.size() && std::isdigit(static_cast<unsigned char>(upper[k]))) value = value * 10 + (upper[k++] - '0');
        if (cmd == 'E') echo_ = value != 0;
        else if (cmd == 'V') verbose_ = value != 0;
        else if (cmd == 'Z') echo_ = false, verbose_ = true;
    }
    upper.erase(0, k);
    if (!upper.empty() && upper[0] == 'D') {
        if (escaped_) {
            Result("ERROR");  // still in a call
            return;
        }
        const std::string number = Digits(raw.substr(raw.find_first_of("dD") + 1));
        if (number.empty()) {
            Result("ERROR");
            return;
        }
        outcome_ = options_.busy.count(number)       ? Outcome::Busy
                   : options_.noAnswer.count(number) ? Outcome::NoCarrier
                   : options_.delayed.count(number)  ? Outcome::Delayed
                                                     : Outcome::Connect;
        state_ = State::Dialing;
        ringingSent_ = false;
        ringAt_ = now + options_.connectDelay / 2;
        resultAt_ = now + options_.connectDelay;
        return;
    }
    if (!upper.empty() && upper[0] == 'H') {
        dialogue_.reset();
        escaped_ = false;
        state_ = State::Command;
    } else if (upper == "O" && escaped_) {
        escaped_ = false;
        state_ = State::Online;
        Result("CONNECT 57600");
        return;
    }
    Result("OK");
}

void HayesModem::OnlineBytes(const char* data, size_t length, Clock::time_point now) {
    for (size_t i = 0; i < length; ++i) {
        if (data[i] == '+') {
            if (++plusRun_ == 3) {
                plusRun_ = 0;
                escaped_ = true;
                line_.clear();
                Result("OK");
                // What follows in the same burst is a command.
                Feed(data + i + 1, length - i - 1, now);
                return;
            }
            continue;
        }
        if (plusRun_ > 0) {
            const std::string held(static_cast<size_t>(plusRun_), '+');
            plusRun_ = 0;
            ToSwitch(held.data(), held.size(), now);
        }
        ToSwitch(data + i, 1, now);
    }
}

void HayesModem::ToSwitch(const char* data, size_t length, Clock::time_point now) {
    if (!dialogue_) return;
    if (carriageReturns_ < options_.answerAfter) {
        // Still asleep: only counts the wake-up carriage returns.
        for (size_t i = 0; i < length; ++i) {
            if (data[i] != '\r') continue;
            if (++carriageReturns_ == options_.answerAfter) {
                dialogue_->Feed("\r", 1, now);
                ToSwitch(data + i + 1, length - i - 1, now);
                return;
            }
        }
        return;
    }
    dialogue_->Feed(data, length, now);
}

void HayesModem::Tick(Clock::time_point now) {
    if (state_ == State::Dialing) {
        if (!ringingSent_ && (outcome_ == Outcome::Connect || outcome_ == Outcome::NoCarrier) && now >= ringAt_) {
            ringingSent_ = true;
            Result("RINGING");
        }
        if (now >= resultAt_) {
            switch (outcome_) {
            case Outcome::Busy:
                state_ = State::Command;
                Result("BUSY");
                break;
            case Outcome::NoCarrier:
                state_ = State::Command;
                Result("NO CARRIER");
                break;
            case Outcome::Delayed:
                state_ = State::Command;
                Result("DELAYED");
                break;
            case Outcome::Connect:
                state_ = State::Online;
                escaped_ = false;
                plusRun_ = 0;
                carriageReturns_ = 0;
                Result("CONNECT 57600");
                dialogue_ = std::make_unique<SwitchDialogue>(options_.switchOptions);
                dialogue_->Start(now, /*greet=*/false);
                carrierLossAt_ = now + options_.carrierLoss;
                break;
            }
        }
    }
    if (state_ == State::Online && options_.carrierLoss.count() > 0 && now >= carrierLossAt_) {
        dialogue_.reset();
        escaped_ = false;
        state_ = State::Command;
        Result("NO CARRIER");
    }
    if (dialogue_) dialogue_->Tick(now);
}

int HayesModem::MsUntilDue(Clock::time_point now) const {
    int due = dialogue_ ? dialogue_->MsUntilDue(now) : -1;
    if (state_ == State::Dialing) {
        const auto next = !ringingSent_ && (outcome_ == Outcome::Connect || outcome_ == Outcome::NoCarrier) ? std::min(ringAt_, resultAt_) : resultAt_;
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
        const int d = ms <= 0 ? 0 : static_cast<int>(std::min<long long>(ms, 60000));
        due = due < 0 ? d : std::min(due, d);
    }
    if (state_ == State::Online && options_.carrierLoss.count() > 0) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(carrierLossAt_ - now).count();
        const int d = ms <= 0 ? 0 : static_cast<int>(std::min<long long>(ms, 60000));
        due = due < 0 ? d : std::min(due, d);
    }
    return due;
}

bool HayesModem::HasOutput() const {
    return outPos_ < out_.size() || (dialogue_ && !escaped_ && dialogue_->HasOutput());
}

size_t HayesModem::Pull(char* buffer, size_t maximum) {
    if (outPos_ < out_.size()) {
        const size_t n = std::min(maximum, out_.size() - outPos_);
        std::copy_n(out_.data() + outPos_, n, buffer);
        outPos_ += n;
        if (outPos_ == out_.size()) {
            out_.clear();
            outPos_ = 0;
        }
        return n;
    }
    if (dialogue_ && !escaped_) return dialogue_->Pull(buffer, maximum);
    return 0;
}

} // namespace pmxsim
