// The telephony layer over AT modems. Any thread may call the line functions; one
// dial thread per call writes ATD and turns the modem's result codes into call
// states, queued for the application until its dialling thread pumps them.
#include "links/Telephony.h"

#include "platform/Profile.h"
#include "links/CommPort.h"
#include "links/PortIo.h"
#include "links/SerialDevices.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <map>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kMaxModems = 256;        // a damaged count must not make us loop for ages
constexpr size_t kMaxPending = 4096;      // a modem that never ends a line
constexpr int kDtrDropMs = 250;           // long enough for any modem to notice
constexpr int kMaxGuardMs = 10000;
constexpr const char* kDataModemClass = "comm/datamodem";

std::atomic<bool> g_available{true};

std::mutex g_hookMutex;
LineConfigHook g_hook;

struct Event {
    DWORD device;
    DWORD message;
    uintptr_t instance;
    uintptr_t param1;
    uintptr_t param2;
    uintptr_t param3;
};

struct App {
    LINECALLBACK callback = nullptr;
    std::vector<TelephonyModem> modems;
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Event> queue;
    bool shutdown = false;

    void Post(const Event& e) {
        std::lock_guard lock(mutex);
        if (shutdown) return;
        queue.push_back(e);
        arrived.notify_all();
    }
};

struct Line {
    HLINE handle = 0;
    std::shared_ptr<App> app;
    DWORD device = 0;
    uintptr_t instance = 0;
    TelephonyModem modem;
    std::shared_ptr<CommPort> port;
    bool hasDtr = false;
    int guardMs = telephony::kDefaultGuardMs;  // silence around "+++" (lines without DTR only)
    DWORD lineStates = 0;
    DWORD addressStates = 0;

    // One user of the modem at a time: the dial thread, then a hang-up or a close.
    std::mutex io;
    std::string pending;  // received, not yet a whole line; under io
};

// What a dial thread shares with its call; the thread never owns the Call itself.
struct DialState {
    std::atomic<bool> stop{false};
    std::atomic<DWORD> state{0};
};

struct Call {
    HCALL handle = 0;
    std::shared_ptr<Line> line;
    std::shared_ptr<DialState> dial = std::make_shared<DialState>();
    std::thread thread;
    std::mutex mutex;  // the join and the hang-up
    std::atomic<bool> dropped{false};
    DWORD portHandle = 0;  // under g_mutex

    void StopThread() {
        if (!thread.joinable()) return;
        dial->stop.store(true);
        line->port->SetCommMask(0);  // ends the thread's wait
        if (thread.get_id() == std::this_thread::get_id()) {
            thread.detach();
            return;
        }
        thread.join();
    }
    ~Call() { StopThread(); }
};

std::mutex g_mutex;
DWORD g_nextHandle = 1;
LONG g_nextRequest = 1;
std::map<HLINEAPP, std::shared_ptr<App>> g_apps;
std::map<HLINE, std::shared_ptr<Line>> g_lines;
std::map<HCALL, std::shared_ptr<Call>> g_calls;
std::map<DWORD, std::shared_ptr<CommPort>> g_ports;

// Under g_mutex. Handles stay positive as LONG and never 0.
DWORD NewHandle() {
    DWORD h = g_nextHandle++;
    if (g_nextHandle >= 0x7FFFFFFF) g_nextHandle = 1;
    return h;
}

LONG NewRequest() {
    std::lock_guard lock(g_mutex);
    LONG id = g_nextRequest++;
    if (g_nextRequest >= 0x7FFFFFFF) g_nextRequest = 1;
    return id;
}

template <class Map>
typename Map::mapped_type Find(Map& map, DWORD handle) {
    std::lock_guard lock(g_mutex);
    auto it = map.find(handle);
    return it == map.end() ? nullptr : it->second;
}

bool Unavailable() { return !g_available.load(); }

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
    line.app->Post({call, LINE_CALLSTATE, line.instance, state, mode, 0});
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
    line->app->Post({line->handle, LINE_REPLY, line->instance, static_cast<uintptr_t>(request), 0, 0});
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

// Stops the dial thread and puts the modem on hook; once per call.
void DropCall(Call& call) {
    std::lock_guard lock(call.mutex);
    call.StopThread();
    if (call.dropped.exchange(true)) return;
    std::lock_guard io(call.line->io);
    if (call.line->port->IsOpen()) HangUpModem(*call.line, call.dial->state.load());
    call.dial->state.store(LINECALLSTATE_IDLE);
}

// Under g_mutex: the calls of a line, taken out of the registry.
std::vector<std::shared_ptr<Call>> TakeCalls(const std::shared_ptr<Line>& line) {
    std::vector<std::shared_ptr<Call>> calls;
    for (auto it = g_calls.begin(); it != g_calls.end();) {
        if (it->second->line == line) {
            if (it->second->portHandle) g_ports.erase(it->second->portHandle);
            calls.push_back(it->second);
            it = g_calls.erase(it);
        } else {
            ++it;
        }
    }
    return calls;
}

void CloseLine(const std::shared_ptr<Line>& line, std::vector<std::shared_ptr<Call>> calls) {
    for (auto& c : calls) DropCall(*c);
    std::lock_guard io(line->io);
    line->port->Close();
}

LONG CheckApp(HLINEAPP app, std::shared_ptr<App>* out) {
    *out = Find(g_apps, app);
    return *out ? 0 : AsResult(LINEERR_INVALAPPHANDLE);
}

} // namespace

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

namespace {

std::string RealPath(const std::string& path) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        std::string r = real;
        std::free(real);
        return r;
    }
    return path;
}

std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    return names;
}

} // namespace

std::vector<TelephonyModem> ConfiguredModems() {
    Profile& p = Profile::get();
    std::vector<TelephonyModem> modems;
    const int count = p.getInt(telephony::kSection, telephony::kKeyCount, -1);
    const DWORD n = count < 0 ? 0 : std::min<DWORD>(static_cast<DWORD>(count), kMaxModems);
    for (DWORD i = 0; i < n; ++i) {
        const std::string k = std::to_string(i);
        modems.push_back({p.getString(telephony::kSection, "Name" + k, "Modem " + k),
                          p.getString(telephony::kSection, "Path" + k, ""),
                          p.getString(telephony::kSection, "Init" + k, telephony::kDefaultInit)});
    }
    return modems;
}

std::vector<TelephonyModem> DetectSerialModems(const std::string& devRoot) {
    std::vector<TelephonyModem> found;
    std::vector<std::string> seen;  // real device nodes already offered
    // The stable names first: they survive replugging and renumbering.
    const std::string byId = devRoot + "/serial/by-id";
    for (const std::string& name : ListDir(byId)) {
        const std::string path = byId + "/" + name;
        found.push_back({name, path, telephony::kDefaultInit});
        seen.push_back(RealPath(path));
    }
    for (const std::string& name : ListDir(devRoot)) {
        if (name.rfind("ttyACM", 0) != 0 && name.rfind("ttyUSB", 0) != 0) continue;
        const std::string path = devRoot + "/" + name;
        if (std::find(seen.begin(), seen.end(), RealPath(path)) != seen.end()) continue;
        found.push_back({"AT modem on " + path, path, telephony::kDefaultInit});
    }
    return found;
}

int FindModemByPath(const std::vector<TelephonyModem>& modems, const std::string& path) {
    if (path.empty()) return -1;
    for (size_t i = 0; i < modems.size(); ++i)
        if (modems[i].path == path) return static_cast<int>(i);
    const std::string real = RealPath(path);
    for (size_t i = 0; i < modems.size(); ++i)
        if (!modems[i].path.empty() && RealPath(modems[i].path) == real) return static_cast<int>(i);
    return -1;
}

std::vector<TelephonyModem> TelephonyModems() {
    std::vector<TelephonyModem> modems = ConfiguredModems();
    for (TelephonyModem& m : DetectSerialModems("/dev"))
        if (FindModemByPath(modems, m.path) < 0) modems.push_back(std::move(m));
    return modems;
}

void StoreTelephonyModems(const std::vector<TelephonyModem>& modems) {
    Profile& p = Profile::get();
    p.writeInt(telephony::kSection, telephony::kKeyCount, static_cast<int>(modems.size()));
    for (size_t i = 0; i < modems.size(); ++i) {
        const std::string k = std::to_string(i);
        p.writeString(telephony::kSection, "Name" + k, modems[i].name);
        p.writeString(telephony::kSection, "Path" + k, modems[i].path);
        p.writeString(telephony::kSection, "Init" + k, modems[i].init);
    }
}

void SetLineConfigHook(LineConfigHook hook) {
    std::lock_guard lock(g_hookMutex);
    g_hook = std::move(hook);
}

void SetTelephonyAvailable(bool available) { g_available.store(available); }

LONG lineInitialize(HLINEAPP* lineApp, void*, LINECALLBACK callback, const char*, DWORD* numDevs) {
    if (Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    if (!lineApp || !numDevs) return AsResult(LINEERR_INVALPOINTER);
    if (!callback) return AsResult(LINEERR_INVALPARAM);
    auto app = std::make_shared<App>();
    app->callback = callback;
    app->modems = TelephonyModems();
    std::lock_guard lock(g_mutex);
    const HLINEAPP h = NewHandle();
    g_apps[h] = app;
    *lineApp = h;
    *numDevs = static_cast<DWORD>(app->modems.size());
    return 0;
}

LONG lineShutdown(HLINEAPP lineApp) {
    if (Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    std::shared_ptr<App> app;
    std::vector<std::pair<std::shared_ptr<Line>, std::vector<std::shared_ptr<Call>>>> lines;
    {
        std::lock_guard lock(g_mutex);
        auto it = g_apps.find(lineApp);
        if (it == g_apps.end()) return AsResult(LINEERR_INVALAPPHANDLE);
        app = it->second;
        g_apps.erase(it);
        for (auto l = g_lines.begin(); l != g_lines.end();) {
            if (l->second->app == app) {
                lines.emplace_back(l->second, TakeCalls(l->second));
                l = g_lines.erase(l);
            } else {
                ++l;
            }
        }
    }
    for (auto& [line, calls] : lines) CloseLine(line, std::move(calls));
    std::lock_guard lock(app->mutex);
    app->shutdown = true;
    app->queue.clear();
    app->arrived.notify_all();
    return 0;
}

LONG lineNegotiateAPIVersion(HLINEAPP lineApp, DWORD deviceId, DWORD lowVersion,
                             DWORD highVersion, DWORD* apiVersion, DWORD* extensionId) {
    if (Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    std::shared_ptr<App> app;
    if (LONG r = CheckApp(lineApp, &app)) return r;
    if (!apiVersion || !extensionId) return AsResult(LINEERR_INVALPOINTER);
    if (deviceId >= app->modems.size()) return AsResult(LINEERR_BADDEVICEID);
    if (lowVersion > highVersion || lowVersion > kHighestApiVersion || highVersion < kLowestApiVersion)
        return AsResult(LINEERR_INCOMPATIBLEAPIVERSION);
    *apiVersion = std::min(highVersion, kHighestApiVersion);
    *extensionId = 0;
    return 0;
}

LONG lineGetDevCaps(HLINEAPP lineApp, DWORD deviceId, DWORD, DWORD, LINEDEVCAPS* caps) {
    if (Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    std::shared_ptr<App> app;
    if (LONG r = CheckApp(lineApp, &app)) return r;
    if (!caps) return AsResult(LINEERR_INVALPOINTER);
    if (deviceId >= app->modems.size()) return AsResult(LINEERR_BADDEVICEID);
    if (caps->dwTotalSize < sizeof(LINEDEVCAPS)) return AsResult(LINEERR_STRUCTURETOOSMALL);
    const std::string& name = app->modems[deviceId].name;
    const DWORD total = caps->dwTotalSize;
    std::memset(caps, 0, sizeof(LINEDEVCAPS));
    caps->dwTotalSize = total;
    caps->dwNeededSize = static_cast<DWORD>(sizeof(LINEDEVCAPS) + name.size() + 1);
    caps->dwUsedSize = sizeof(LINEDEVCAPS);
    caps->dwMediaModes = LINEMEDIAMODE_DATAMODEM;
    caps->dwBearerModes = LINEBEARERMODE_DATA;
    caps->dwMaxRate = 57600;
    caps->dwNumAddresses = 1;
    if (caps->dwNeededSize <= total) {
        std::memcpy(reinterpret_cast<char*>(caps) + sizeof(LINEDEVCAPS), name.c_str(), name.size() + 1);
        caps->dwLineNameOffset = sizeof(LINEDEVCAPS);
        caps->dwLineNameSize = static_cast<DWORD>(name.size() + 1);
        caps->dwUsedSize = caps->dwNeededSize;
    }
    return 0;
}

LONG lineOpen(HLINEAPP lineApp, DWORD deviceId, HLINE* lineOut, DWORD, DWORD,
              uintptr_t callbackInstance, DWORD, DWORD mediaModes, const LINECALLPARAMS*) {
    if (Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    std::shared_ptr<App> app;
    if (LONG r = CheckApp(lineApp, &app)) return r;
    if (!lineOut) return AsResult(LINEERR_INVALPOINTER);
    if (deviceId >= app->modems.size()) return AsResult(LINEERR_BADDEVICEID);
    if (mediaModes & ~LINEMEDIAMODE_DATAMODEM) return AsResult(LINEERR_INVALPARAM);

    auto line = std::make_shared<Line>();
    line->app = app;
    line->device = deviceId;
    line->instance = callbackInstance;
    line->modem = app->modems[deviceId];
    line->port = CreateCommPort();
    CommPort& port = *line->port;
    if (line->modem.path.empty()) return AsResult(LINEERR_NODEVICE);
    if (int err = port.Open(line->modem.path)) {
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
    line->hasDtr = port.SetDtr(true) == 0;
    line->guardMs = std::clamp(Profile::get().getInt(telephony::kSection, telephony::kKeyGuardMs,
                                                     telephony::kDefaultGuardMs),
                               0, kMaxGuardMs);
    {
        std::lock_guard io(line->io);
        const std::string init = line->modem.init.empty() ? std::string("AT") : line->modem.init;
        if (!Command(*line, init, telephony::kCommandMs)) {
            port.Close();
            return AsResult(LINEERR_OPERATIONFAILED);
        }
    }
    std::lock_guard lock(g_mutex);
    if (g_apps.find(lineApp) == g_apps.end()) {  // shut down meanwhile
        port.Close();
        return AsResult(LINEERR_INVALAPPHANDLE);
    }
    line->handle = NewHandle();
    g_lines[line->handle] = line;
    *lineOut = line->handle;
    return 0;
}

LONG lineMakeCall(HLINE lineHandle, HCALL* callOut, const char* destAddress, DWORD,
                  const LINECALLPARAMS* params) {
    if (Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    auto line = Find(g_lines, lineHandle);
    if (!line) return AsResult(LINEERR_INVALLINEHANDLE);
    if (!callOut || !destAddress) return AsResult(LINEERR_INVALPOINTER);
    if (params && params->dwTotalSize < sizeof(LINECALLPARAMS)) return AsResult(LINEERR_STRUCTURETOOSMALL);
    if (params && params->dwMediaMode && !(params->dwMediaMode & LINEMEDIAMODE_DATAMODEM))
        return AsResult(LINEERR_INVALPARAM);
    const std::string dest(destAddress, strnlen(destAddress, 256));
    // A control character would end the dial command and start another one.
    if (dest.empty() || dest.size() >= 256 ||
        std::any_of(dest.begin(), dest.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        return AsResult(LINEERR_INVALPARAM);

    auto call = std::make_shared<Call>();
    call->line = line;
    const LONG request = NewRequest();
    {
        std::lock_guard lock(g_mutex);
        if (g_lines.find(lineHandle) == g_lines.end()) return AsResult(LINEERR_INVALLINEHANDLE);
        for (auto& [h, c] : g_calls)
            if (c->line == line && !c->dropped && c->dial->state.load() != LINECALLSTATE_IDLE)
                return AsResult(LINEERR_CALLUNAVAIL);
        call->handle = NewHandle();
        g_calls[call->handle] = call;
    }
    try {
        std::lock_guard join(call->mutex);
        call->thread = std::thread(DialThread, line, call->dial, call->handle, request, dest);
    } catch (const std::system_error&) {
        std::lock_guard lock(g_mutex);
        g_calls.erase(call->handle);
        return AsResult(LINEERR_NOMEM);
    }
    *callOut = call->handle;
    return request;
}

LONG lineGetID(HLINE, DWORD, HCALL callHandle, DWORD select, VARSTRING* deviceId,
               const char* deviceClass) {
    if (Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    if (select != LINECALLSELECT_CALL) return AsResult(LINEERR_INVALPARAM);
    auto call = Find(g_calls, callHandle);
    if (!call) return AsResult(LINEERR_INVALCALLHANDLE);
    if (!deviceId || !deviceClass) return AsResult(LINEERR_INVALPOINTER);
    if (std::strcmp(deviceClass, kDataModemClass) != 0) return AsResult(LINEERR_INVALDEVICECLASS);
    if (deviceId->dwTotalSize < sizeof(VARSTRING)) return AsResult(LINEERR_STRUCTURETOOSMALL);
    DWORD portHandle = 0;
    {
        std::lock_guard lock(call->mutex);
        if (call->dropped || call->dial->state.load() != LINECALLSTATE_CONNECTED)
            return AsResult(LINEERR_INVALCALLSTATE);
        // The dial thread ends right after CONNECT; the port is then free to hand over.
        if (call->thread.joinable()) call->thread.join();
        std::lock_guard g(g_mutex);
        if (g_calls.find(callHandle) == g_calls.end()) return AsResult(LINEERR_INVALCALLHANDLE);
        if (!call->portHandle) {
            call->portHandle = NewHandle();
            g_ports[call->portHandle] = call->line->port;
        }
        portHandle = call->portHandle;
    }
    const std::string& path = call->line->modem.path;
    const DWORD total = deviceId->dwTotalSize;
    const DWORD needed = static_cast<DWORD>(sizeof(VARSTRING) + sizeof(DWORD) + path.size() + 1);
    std::memset(deviceId, 0, sizeof(VARSTRING));
    deviceId->dwTotalSize = total;
    deviceId->dwNeededSize = needed;
    deviceId->dwUsedSize = sizeof(VARSTRING);
    deviceId->dwStringFormat = STRINGFORMAT_BINARY;
    if (needed <= total) {
        char* data = reinterpret_cast<char*>(deviceId) + sizeof(VARSTRING);
        std::memcpy(data, &portHandle, sizeof portHandle);
        std::memcpy(data + sizeof portHandle, path.c_str(), path.size() + 1);
        deviceId->dwStringOffset = sizeof(VARSTRING);
        deviceId->dwStringSize = needed - sizeof(VARSTRING);
        deviceId->dwUsedSize = needed;
    }
    return 0;
}

std::shared_ptr<CommPort> linePortFromHandle(DWORD portHandle) { return Find(g_ports, portHandle); }

LONG lineGetStatusMessages(HLINE lineHandle, DWORD* lineStates, DWORD* addressStates) {
    if (Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    if (!lineStates || !addressStates) return AsResult(LINEERR_INVALPOINTER);
    std::lock_guard lock(g_mutex);
    auto it = g_lines.find(lineHandle);
    if (it == g_lines.end()) return AsResult(LINEERR_INVALLINEHANDLE);
    *lineStates = it->second->lineStates;
    *addressStates = it->second->addressStates;
    return 0;
}

LONG lineSetStatusMessages(HLINE lineHandle, DWORD lineStates, DWORD addressStates) {
    if (Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    std::lock_guard lock(g_mutex);
    auto it = g_lines.find(lineHandle);
    if (it == g_lines.end()) return AsResult(LINEERR_INVALLINEHANDLE);
    it->second->lineStates = lineStates;
    it->second->addressStates = addressStates;
    return 0;
}

LONG lineDrop(HCALL callHandle, const char*, DWORD) {
    if (Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    auto call = Find(g_calls, callHandle);
    if (!call) return AsResult(LINEERR_INVALCALLHANDLE);
    DropCall(*call);
    const LONG request = NewRequest();
    call->line->app->Post({call->line->handle, LINE_REPLY, call->line->instance,
                           static_cast<uintptr_t>(request), 0, 0});
    return request;
}

LONG lineClose(HLINE lineHandle) {
    if (Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    std::shared_ptr<Line> line;
    std::vector<std::shared_ptr<Call>> calls;
    {
        std::lock_guard lock(g_mutex);
        auto it = g_lines.find(lineHandle);
        if (it == g_lines.end()) return AsResult(LINEERR_INVALLINEHANDLE);
        line = it->second;
        g_lines.erase(it);
        calls = TakeCalls(line);
    }
    CloseLine(line, std::move(calls));
    return 0;
}

LONG lineDeallocateCall(HCALL callHandle) {
    if (Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    std::shared_ptr<Call> call = Find(g_calls, callHandle);
    if (!call) return AsResult(LINEERR_INVALCALLHANDLE);
    {
        std::lock_guard c(call->mutex);
        if (!call->dropped) {
            const DWORD s = call->dial->state.load();
            if (s != LINECALLSTATE_IDLE) return AsResult(LINEERR_INVALCALLSTATE);
        }
        call->StopThread();
    }
    std::lock_guard lock(g_mutex);
    if (call->portHandle) g_ports.erase(call->portHandle);
    g_calls.erase(callHandle);
    return 0;
}

LONG lineConfigDialog(DWORD deviceId, void* owner, const char*) {
    if (Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    std::vector<TelephonyModem> modems = TelephonyModems();
    if (deviceId >= modems.size()) return AsResult(LINEERR_BADDEVICEID);
    LineConfigHook hook;
    {
        std::lock_guard lock(g_hookMutex);
        hook = g_hook;
    }
    if (!hook) return AsResult(LINEERR_OPERATIONFAILED);
    TelephonyModem edited = modems[deviceId];
    if (hook(edited, owner)) {
        // A detected modem, once edited, is kept with the configured ones.
        std::vector<TelephonyModem> configured = ConfiguredModems();
        if (deviceId < configured.size()) configured[deviceId] = edited;
        else configured.push_back(edited);
        StoreTelephonyModems(configured);
    }
    return 0;
}

LONG linePumpMessage(HLINEAPP lineApp, int timeoutMs) {
    std::shared_ptr<App> app = Find(g_apps, lineApp);
    if (!app) return AsResult(LINEERR_INVALAPPHANDLE);
    std::unique_lock lock(app->mutex);
    auto ready = [&] { return app->shutdown || !app->queue.empty(); };
    if (timeoutMs < 0) app->arrived.wait(lock, ready);
    else app->arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    if (app->shutdown) return AsResult(LINEERR_INVALAPPHANDLE);
    if (app->queue.empty()) return 0;
    Event e = app->queue.front();
    app->queue.pop_front();
    LINECALLBACK callback = app->callback;
    lock.unlock();
    callback(e.device, e.message, e.instance, e.param1, e.param2, e.param3);
    return 1;
}
