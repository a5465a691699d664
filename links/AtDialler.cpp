// The AT dialler: modem commands, result codes and the dial thread.
#include "links/AtDialler.h"

#include "platform/Profile.h"
#include "links/CommPort.h"
#include "links/PortIo.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace atdial {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxPending = 4096;  // a modem that never ends a line
constexpr int kDtrDropMs = 250;       // long enough for any modem to notice
constexpr int kMaxGuardMs = 10000;

void Trim(std::string& s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    s.erase(0, i);
}

// The modem's next non-empty line (numeric result codes given as words), under line.io. 0, ETIMEDOUT, ECANCELED (stop)
// or the port's own error.
int NextLine(Line& line, std::string* out, Clock::time_point deadline,
             const std::atomic<bool>* stop) {
    CommPort& port = *line.port;
    for (;;) {
        size_t pos;
        while ((pos = line.pending.find_first_of("\r\n")) != std::string::npos) {
            std::string text = line.pending.substr(0, pos);
            line.pending.erase(0, pos + 1);
            Trim(text);
            if (!text.empty()) {
                *out = VerboseResult(text);
                return 0;
            }
        }
        if (stop && stop->load()) return ECANCELED;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return ETIMEDOUT;
        uint32_t events = 0;
        if (int err = port.WaitCommEventFor(&events, static_cast<int>(std::min<long long>(left, 1000000))))
            return err;
        if (!(events & EV_RXCHAR)) continue;
        char buffer[256];
        int n = PortIo::ReadWaiting(port, buffer, sizeof buffer);
        if (n > 0) line.pending.append(buffer, static_cast<size_t>(n));
        if (line.pending.size() > kMaxPending) line.pending.clear();
    }
}

bool StartsWith(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

bool IsFinalFailure(const std::string& s) {
    return s == "NO CARRIER" || s == "NO DIALTONE" || s == "NO DIAL TONE" || s == "NO ANSWER" ||
           s == "ERROR" || s == "DELAYED" || s == "BLACKLISTED";
}

int WriteText(Line& line, const std::string& text) {
    size_t written = 0;
    return line.port->Write(text.data(), text.size(), &written);
}

// Sends a command and waits for its final result code; true on OK.
bool Command(Line& line, const std::string& command, int timeoutMs) {
    if (WriteText(line, command + "\r") != 0) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string reply;
    while (NextLine(line, &reply, deadline, nullptr) == 0) {
        if (reply == "OK") return true;
        if (IsFinalFailure(reply) || reply == "BUSY" || StartsWith(reply, "CONNECT")) {
            if (reply != "NO CARRIER") return false;  // the hang-up's own report
        }
    }
    return false;
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Ends whatever the modem is doing and leaves it on hook in command mode. Under line.io.
void HangUpModem(Line& line, DWORD state) {
    CommPort& port = *line.port;
    port.SetCommMask(EV_RXCHAR);
    if (state == LINECALLSTATE_CONNECTED) {
        if (line.hasDtr && port.SetDtr(false) == 0) {
            SleepMs(kDtrDropMs);
            port.SetDtr(true);
        } else {
            // No DTR line: the escape sequence brings the modem back to commands.
            SleepMs(line.guardMs);
            WriteText(line, "+++");
            SleepMs(line.guardMs);
            const auto deadline = Clock::now() + std::chrono::milliseconds(telephony::kCommandMs);
            std::string reply;
            while (NextLine(line, &reply, deadline, nullptr) == 0 && reply != "OK") {}
        }
    } else if (state != 0 && state != LINECALLSTATE_IDLE && state != LINECALLSTATE_DISCONNECTED) {
        // Any character ends a dial in progress.
        WriteText(line, "\r");
        const auto deadline = Clock::now() + std::chrono::milliseconds(1000);
        std::string reply;
        while (NextLine(line, &reply, deadline, nullptr) == 0 && reply != "OK" && !IsFinalFailure(reply)) {}
    }
    port.Purge();
    line.pending.clear();
    Command(line, "ATH", telephony::kCommandMs);
}

void PostCallState(Line& line, HCALL call, DialState& dial, DWORD state, DWORD mode = 0) {
    dial.state.store(state);
    line.events->Post({call, LINE_CALLSTATE, line.instance, state, mode, 0});
}

// The disconnect mode a dial's final result code stands for; 0 for none known.
DWORD DisconnectMode(const std::string& reply) {
    if (reply == "BUSY") return LINEDISCONNECTMODE_BUSY;
    if (reply == "NO ANSWER") return LINEDISCONNECTMODE_NOANSWER;
    if (reply == "NO CARRIER") return LINEDISCONNECTMODE_UNAVAIL;
    if (reply == "NO DIALTONE" || reply == "NO DIAL TONE") return LINEDISCONNECTMODE_NODIALTONE;
    if (reply == "DELAYED") return LINEDISCONNECTMODE_TEMPFAILURE;
    if (reply == "BLACKLISTED") return LINEDISCONNECTMODE_BLOCKED;
    if (reply == "ERROR") return LINEDISCONNECTMODE_BADADDRESS;
    return 0;
}

void DialThread(std::shared_ptr<Line> line, std::shared_ptr<DialState> dial, HCALL call,
                LONG request, std::string dest) {
    std::unique_lock io(line->io);
    line->events->Post({line->handle, LINE_REPLY, line->instance, static_cast<uintptr_t>(request), 0, 0});
    auto over = [&](DWORD mode = 0) {
        PostCallState(*line, call, *dial, LINECALLSTATE_DISCONNECTED, mode);
        PostCallState(*line, call, *dial, LINECALLSTATE_IDLE);
    };
    PostCallState(*line, call, *dial, LINECALLSTATE_DIALING);
    line->pending.clear();
    if (WriteText(*line, "ATD" + dest + "\r") != 0) {
        over();
        return;
    }
    PostCallState(*line, call, *dial, LINECALLSTATE_PROCEEDING);
    const auto deadline = Clock::now() + std::chrono::milliseconds(telephony::kDialMs);
    for (;;) {
        std::string reply;
        int err = NextLine(*line, &reply, deadline, &dial->stop);
        if (err == ECANCELED) return;  // lineDrop takes it from here
        if (err) {
            if (err == ETIMEDOUT) WriteText(*line, "\r");  // abandon the dial
            over();
            return;
        }
        if (StartsWith(reply, "AT")) continue;  // the modem's echo
        if (reply == "RINGING" || reply == "RING") {
            PostCallState(*line, call, *dial, LINECALLSTATE_RINGBACK);
        } else if (StartsWith(reply, "CONNECT")) {
            PostCallState(*line, call, *dial, LINECALLSTATE_CONNECTED);
            return;  // from here the port belongs to whoever asked lineGetID
        } else if (reply == "BUSY") {
            // A final result: the modem is back on hook.
            PostCallState(*line, call, *dial, LINECALLSTATE_BUSY);
            over(DisconnectMode(reply));
            return;
        } else if (IsFinalFailure(reply)) {
            over(DisconnectMode(reply));
            return;
        }
    }
}

} // namespace

void EventQueue::Post(const Event& e) {
    std::lock_guard lock(mutex_);
    if (shutdown_) return;
    queue_.push_back(e);
    arrived_.notify_all();
}

int EventQueue::Pump(LINECALLBACK callback, int timeoutMs) {
    std::unique_lock lock(mutex_);
    auto ready = [&] { return shutdown_ || !queue_.empty(); };
    if (timeoutMs < 0) arrived_.wait(lock, ready);
    else arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    if (shutdown_) return -1;
    if (queue_.empty()) return 0;
    Event e = queue_.front();
    queue_.pop_front();
    lock.unlock();
    callback(e.device, e.message, e.instance, e.param1, e.param2, e.param3);
    return 1;
}

void EventQueue::Shutdown() {
    std::lock_guard lock(mutex_);
    shutdown_ = true;
    queue_.clear();
    arrived_.notify_all();
}

LONG OpenModem(Line& line) {
    CommPort& port = *line.port;
    if (line.modem.path.empty()) return AsResult(LINEERR_NODEVICE);
    if (int err = port.Open(line.modem.path)) {
        if (err == ENOENT || err == ENXIO || err == ENOTTY) return AsResult(LINEERR_NODEVICE);
        return AsResult(err == EBUSY ? LINEERR_ALLOCATED : LINEERR_RESOURCEUNAVAIL);
    }
    DeviceControlBlock dcb;
    if (port.GetState(&dcb) == 0) {
        dcb.baudRate = 115200;
        dcb.byteSize = 8;
        dcb.parity = NOPARITY;
        dcb.stopBits = ONESTOPBIT;
        dcb.fBinary = true;
        dcb.fParity = false;
        dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = false;
        dcb.fOutX = dcb.fInX = false;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        port.SetState(dcb);  // a pty keeps its own line settings; that is fine
    }
    CommTimeouts t;  // reads return what is waiting; a write gives up after a second
    t.writeTotalTimeoutMultiplier = 10;
    t.writeTotalTimeoutConstant = 1000;
    port.SetTimeouts(t);
    port.Purge();
    port.SetCommMask(EV_RXCHAR);
    line.hasDtr = port.SetDtr(true) == 0;
    line.guardMs = std::clamp(Profile::get().getInt(telephony::kSection, telephony::kKeyGuardMs,
                                                    telephony::kDefaultGuardMs),
                              0, kMaxGuardMs);
    std::lock_guard io(line.io);
    const std::string init = line.modem.init.empty() ? std::string("AT") : line.modem.init;
    if (!Command(line, init, telephony::kCommandMs)) {
        port.Close();
        return AsResult(LINEERR_OPERATIONFAILED);
    }
    return 0;
}

void CloseModem(Line& line) {
    std::lock_guard io(line.io);
    line.port->Close();
}

void Call::StartDial(LONG request, const std::string& dest) {
    thread = std::thread(DialThread, line, dial, handle, request, dest);
}

void Call::StopThread() {
    if (!thread.joinable()) return;
    dial->stop.store(true);
    line->port->SetCommMask(0);  // ends the thread's wait
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();
        return;
    }
    thread.join();
}

void Call::Drop() {
    std::lock_guard lock(mutex);
    StopThread();
    if (dropped.exchange(true)) return;
    std::lock_guard io(line->io);
    if (line->port->IsOpen()) HangUpModem(*line, dial->state.load());
    dial->state.store(LINECALLSTATE_IDLE);
}

} // namespace atdial

std::string VerboseResult(const std::string& reply) {
    if (reply.empty() || reply.size() > 2 ||
        !std::all_of(reply.begin(), reply.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return reply;
    switch (std::stoi(reply)) {
    case 0: return "OK";
    case 1: return "CONNECT";
    case 2: return "RING";
    case 3: return "NO CARRIER";
    case 4: return "ERROR";
    case 5: return "CONNECT 1200";
    case 6: return "NO DIALTONE";
    case 7: return "BUSY";
    case 8: return "NO ANSWER";
    case 24: return "DELAYED";
    case 32: return "BLACKLISTED";
    default: break;
    }
    const int code = std::stoi(reply);
    if (code >= 9 && code <= 19) return "CONNECT";  // the extended speed codes
    return reply;
}
