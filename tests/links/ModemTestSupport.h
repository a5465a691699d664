// Test helpers for the modem link: the simulator as a Hayes modem, the settings that
// offer it, and a stand-in for the frame that records the modem messages and answers
// them the way the frame does.
#pragma once

#include "platform/Profile.h"
#include "links/CModemLink.h"
#include "links/ModemTexts.h"
#include "links/Telephony.h"
#include "tests/links/LinkTestSupport.h"

#include <mutex>
#include <string>
#include <vector>

namespace modemtest {

// Offers the modems at paths as devices 0, 1, ... and chooses device 0.
inline void OfferModems(Profile& p, const std::vector<std::string>& paths) {
    std::vector<TelephonyModem> modems;
    for (size_t i = 0; i < paths.size(); ++i)
        modems.push_back({"Sim modem " + std::to_string(i), paths[i], "ATZ"});
    StoreTelephonyModems(modems);
    p.writeInt(modemtext::kSection, modemtext::kKeyDevice, 0);
    // The simulated modem hears "+++" without a guard time; calls end faster.
    p.writeInt(telephony::kSection, telephony::kKeyGuardMs, 200);
}

inline linktest::SimProcess StartModem(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"--modem", "--connect-delay", "200"};
    args.insert(args.end(), extra.begin(), extra.end());
    return linktest::SimProcess(args);
}

class FrameStandIn : public ModemEvents {
public:
    explicit FrameStandIn(CModemLink& link) : link_(link) {}
    void PostShowProgress(int i) override { Log("show " + std::to_string(i)); }
    void PostHideProgress() override { Log("hide"); }
    void PostUpdateProgress(int i) override { Log("text " + std::to_string(i)); }
    void PostDisconnectBlocked(int b) override { Log("blocked " + std::to_string(b)); }
    void SendCallConnected(int f) override {
        Log("call connected");
        link_.SetCallConnected(f);
    }
    void PostEstablished() override { Log("established"); }
    void SendCallLost() override {
        Log("call lost");
        if (link_.CallConnected()) link_.Hangup(true);
        else link_.SetDialWait(0);
    }
    void SendMessageBox(const char* text, const char*, MsgIcon) override { Log(std::string("box ") + text); }

    std::vector<std::string> log() const {
        std::lock_guard l(m_);
        return log_;
    }
    // The progress texts shown (updates only), as indexes.
    std::vector<int> texts() const {
        std::vector<int> out;
        for (const auto& e : log())
            if (e.rfind("text ", 0) == 0) out.push_back(std::stoi(e.substr(5)));
        return out;
    }
    bool saw(const std::string& entry) const {
        for (const auto& e : log())
            if (e == entry) return true;
        return false;
    }
    void clear() {
        std::lock_guard l(m_);
        log_.clear();
    }

private:
    void Log(std::string s) {
        std::lock_guard l(m_);
        log_.push_back(std::move(s));
    }
    CModemLink& link_;
    mutable std::mutex m_;
    std::vector<std::string> log_;
};

} // namespace modemtest
