// The line functions: handles for applications, lines, calls and ports, checked and
// turned into the dialler's work. Any thread may call them.
#include "links/Telephony.h"

#include "links/AtDialler.h"
#include "links/CommPort.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <system_error>

namespace {

constexpr const char* kDataModemClass = "comm/datamodem";

struct App {
    LINECALLBACK callback = nullptr;
    std::vector<TelephonyModem> modems;
    std::shared_ptr<atdial::EventQueue> events = std::make_shared<atdial::EventQueue>();
};

using atdial::Call;
using atdial::Line;

} // namespace

struct TelephonyLines::State {
    std::atomic<bool> available{true};
    std::mutex hookMutex;
    LineConfigHook hook;

    std::mutex mutex;  // the handles and maps below
    DWORD nextHandle = 1;
    LONG nextRequest = 1;
    std::map<HLINEAPP, std::shared_ptr<App>> apps;
    std::map<HLINE, std::shared_ptr<Line>> lines;
    std::map<HCALL, std::shared_ptr<Call>> calls;
    std::map<DWORD, std::shared_ptr<CommPort>> ports;

    // Under mutex. Handles stay positive as LONG and never 0.
    DWORD NewHandle() {
        DWORD h = nextHandle++;
        if (nextHandle >= 0x7FFFFFFF) nextHandle = 1;
        return h;
    }

    LONG NewRequest() {
        std::lock_guard lock(mutex);
        LONG id = nextRequest++;
        if (nextRequest >= 0x7FFFFFFF) nextRequest = 1;
        return id;
    }

    template <class Map>
    typename Map::mapped_type Find(Map& map, DWORD handle) {
        std::lock_guard lock(mutex);
        auto it = map.find(handle);
        return it == map.end() ? nullptr : it->second;
    }

    bool Unavailable() const { return !available.load(); }

    LONG CheckApp(HLINEAPP app, std::shared_ptr<App>* out) {
        *out = Find(apps, app);
        return *out ? 0 : AsResult(LINEERR_INVALAPPHANDLE);
    }

    // Under mutex: the calls of a line, taken out of the registry.
    std::vector<std::shared_ptr<Call>> TakeCalls(const std::shared_ptr<Line>& line) {
        std::vector<std::shared_ptr<Call>> taken;
        for (auto it = calls.begin(); it != calls.end();) {
            if (it->second->line == line) {
                if (it->second->portHandle) ports.erase(it->second->portHandle);
                taken.push_back(it->second);
                it = calls.erase(it);
            } else {
                ++it;
            }
        }
        return taken;
    }
};

namespace {

void CloseLine(const std::shared_ptr<Line>& line, std::vector<std::shared_ptr<Call>> calls) {
    for (auto& c : calls) c->Drop();
    atdial::CloseModem(*line);
}

} // namespace

TelephonyLines::TelephonyLines() : state_(std::make_unique<State>()) {}

TelephonyLines::~TelephonyLines() {
    std::vector<HLINEAPP> apps;
    {
        std::lock_guard lock(state_->mutex);
        for (auto& [h, app] : state_->apps) apps.push_back(h);
    }
    state_->available = true;
    for (HLINEAPP h : apps) Shutdown(h);
}

TelephonyLines& TelephonyLines::Default() {
    // Never destroyed: a call still up when the process ends is left to the system.
    static TelephonyLines* lines = new TelephonyLines;
    return *lines;
}

void TelephonyLines::SetConfigHook(LineConfigHook hook) {
    std::lock_guard lock(state_->hookMutex);
    state_->hook = std::move(hook);
}

void TelephonyLines::SetAvailable(bool available) { state_->available.store(available); }

LONG TelephonyLines::Initialize(HLINEAPP* lineApp, LINECALLBACK callback, DWORD* numDevs) {
    State& s = *state_;
    if (s.Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    if (!lineApp || !numDevs) return AsResult(LINEERR_INVALPOINTER);
    if (!callback) return AsResult(LINEERR_INVALPARAM);
    auto app = std::make_shared<App>();
    app->callback = callback;
    app->modems = TelephonyModems();
    std::lock_guard lock(s.mutex);
    const HLINEAPP h = s.NewHandle();
    s.apps[h] = app;
    *lineApp = h;
    *numDevs = static_cast<DWORD>(app->modems.size());
    return 0;
}

LONG TelephonyLines::Shutdown(HLINEAPP lineApp) {
    State& s = *state_;
    if (s.Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    std::shared_ptr<App> app;
    std::vector<std::pair<std::shared_ptr<Line>, std::vector<std::shared_ptr<Call>>>> lines;
    {
        std::lock_guard lock(s.mutex);
        auto it = s.apps.find(lineApp);
        if (it == s.apps.end()) return AsResult(LINEERR_INVALAPPHANDLE);
        app = it->second;
        s.apps.erase(it);
        for (auto l = s.lines.begin(); l != s.lines.end();) {
            if (l->second->events == app->events) {
                lines.emplace_back(l->second, s.TakeCalls(l->second));
                l = s.lines.erase(l);
            } else {
                ++l;
            }
        }
    }
    for (auto& [line, calls] : lines) CloseLine(line, std::move(calls));
    app->events->Shutdown();
    return 0;
}

LONG TelephonyLines::NegotiateAPIVersion(HLINEAPP lineApp, DWORD deviceId, DWORD lowVersion,
                                         DWORD highVersion, DWORD* apiVersion, DWORD* extensionId) {
    State& s = *state_;
    if (s.Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    std::shared_ptr<App> app;
    if (LONG r = s.CheckApp(lineApp, &app)) return r;
    if (!apiVersion || !extensionId) return AsResult(LINEERR_INVALPOINTER);
    if (deviceId >= app->modems.size()) return AsResult(LINEERR_BADDEVICEID);
    if (lowVersion > highVersion || lowVersion > kHighestApiVersion || highVersion < kLowestApiVersion)
        return AsResult(LINEERR_INCOMPATIBLEAPIVERSION);
    *apiVersion = std::min(highVersion, kHighestApiVersion);
    *extensionId = 0;
    return 0;
}

LONG TelephonyLines::GetDevCaps(HLINEAPP lineApp, DWORD deviceId, LINEDEVCAPS* caps) {
    State& s = *state_;
    if (s.Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    std::shared_ptr<App> app;
    if (LONG r = s.CheckApp(lineApp, &app)) return r;
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

LONG TelephonyLines::Open(HLINEAPP lineApp, DWORD deviceId, HLINE* lineOut,
                          uintptr_t callbackInstance, DWORD mediaModes) {
    State& s = *state_;
    if (s.Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    std::shared_ptr<App> app;
    if (LONG r = s.CheckApp(lineApp, &app)) return r;
    if (!lineOut) return AsResult(LINEERR_INVALPOINTER);
    if (deviceId >= app->modems.size()) return AsResult(LINEERR_BADDEVICEID);
    if (mediaModes & ~LINEMEDIAMODE_DATAMODEM) return AsResult(LINEERR_INVALPARAM);

    auto line = std::make_shared<Line>();
    line->events = app->events;
    line->instance = callbackInstance;
    line->modem = app->modems[deviceId];
    line->port = CreateCommPort();
    if (LONG r = atdial::OpenModem(*line)) return r;
    std::lock_guard lock(s.mutex);
    if (s.apps.find(lineApp) == s.apps.end()) {  // shut down meanwhile
        line->port->Close();
        return AsResult(LINEERR_INVALAPPHANDLE);
    }
    line->handle = s.NewHandle();
    s.lines[line->handle] = line;
    *lineOut = line->handle;
    return 0;
}

LONG TelephonyLines::MakeCall(HLINE lineHandle, HCALL* callOut, const char* destAddress,
                              const LINECALLPARAMS* params) {
    State& s = *state_;
    if (s.Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    auto line = s.Find(s.lines, lineHandle);
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
    const LONG request = s.NewRequest();
    {
        std::lock_guard lock(s.mutex);
        if (s.lines.find(lineHandle) == s.lines.end()) return AsResult(LINEERR_INVALLINEHANDLE);
        for (auto& [h, c] : s.calls)
            if (c->line == line && !c->dropped && c->dial->state.load() != LINECALLSTATE_IDLE)
                return AsResult(LINEERR_CALLUNAVAIL);
        call->handle = s.NewHandle();
        s.calls[call->handle] = call;
    }
    try {
        std::lock_guard join(call->mutex);
        call->StartDial(request, dest);
    } catch (const std::system_error&) {
        std::lock_guard lock(s.mutex);
        s.calls.erase(call->handle);
        return AsResult(LINEERR_NOMEM);
    }
    *callOut = call->handle;
    return request;
}

LONG TelephonyLines::GetID(HCALL callHandle, DWORD select, VARSTRING* deviceId, const char* deviceClass) {
    State& s = *state_;
    if (s.Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    if (select != LINECALLSELECT_CALL) return AsResult(LINEERR_INVALPARAM);
    auto call = s.Find(s.calls, callHandle);
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
        std::lock_guard g(s.mutex);
        if (s.calls.find(callHandle) == s.calls.end()) return AsResult(LINEERR_INVALCALLHANDLE);
        if (!call->portHandle) {
            call->portHandle = s.NewHandle();
            s.ports[call->portHandle] = call->line->port;
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

std::shared_ptr<CommPort> TelephonyLines::PortFromHandle(DWORD portHandle) {
    return state_->Find(state_->ports, portHandle);
}

LONG TelephonyLines::GetStatusMessages(HLINE lineHandle, DWORD* lineStates, DWORD* addressStates) {
    State& s = *state_;
    if (s.Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    if (!lineStates || !addressStates) return AsResult(LINEERR_INVALPOINTER);
    std::lock_guard lock(s.mutex);
    auto it = s.lines.find(lineHandle);
    if (it == s.lines.end()) return AsResult(LINEERR_INVALLINEHANDLE);
    *lineStates = it->second->lineStates;
    *addressStates = it->second->addressStates;
    return 0;
}

LONG TelephonyLines::SetStatusMessages(HLINE lineHandle, DWORD lineStates, DWORD addressStates) {
    State& s = *state_;
    if (s.Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    std::lock_guard lock(s.mutex);
    auto it = s.lines.find(lineHandle);
    if (it == s.lines.end()) return AsResult(LINEERR_INVALLINEHANDLE);
    it->second->lineStates = lineStates;
    it->second->addressStates = addressStates;
    return 0;
}

LONG TelephonyLines::Drop(HCALL callHandle) {
    State& s = *state_;
    if (s.Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    auto call = s.Find(s.calls, callHandle);
    if (!call) return AsResult(LINEERR_INVALCALLHANDLE);
    call->Drop();
    const LONG request = s.NewRequest();
    call->line->events->Post({call->line->handle, LINE_REPLY, call->line->instance,
                              static_cast<uintptr_t>(request), 0, 0});
    return request;
}

LONG TelephonyLines::Close(HLINE lineHandle) {
    State& s = *state_;
    if (s.Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    std::shared_ptr<Line> line;
    std::vector<std::shared_ptr<Call>> calls;
    {
        std::lock_guard lock(s.mutex);
        auto it = s.lines.find(lineHandle);
        if (it == s.lines.end()) return AsResult(LINEERR_INVALLINEHANDLE);
        line = it->second;
        s.lines.erase(it);
        calls = s.TakeCalls(line);
    }
    CloseLine(line, std::move(calls));
    return 0;
}

LONG TelephonyLines::DeallocateCall(HCALL callHandle) {
    State& s = *state_;
    if (s.Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    std::shared_ptr<Call> call = s.Find(s.calls, callHandle);
    if (!call) return AsResult(LINEERR_INVALCALLHANDLE);
    {
        std::lock_guard c(call->mutex);
        if (!call->dropped) {
            const DWORD state = call->dial->state.load();
            if (state != LINECALLSTATE_IDLE) return AsResult(LINEERR_INVALCALLSTATE);
        }
        call->StopThread();
    }
    std::lock_guard lock(s.mutex);
    if (call->portHandle) s.ports.erase(call->portHandle);
    s.calls.erase(callHandle);
    return 0;
}

LONG TelephonyLines::ConfigDialog(DWORD deviceId, void* owner) {
    State& s = *state_;
    if (s.Unavailable()) return AsResult(LINEERR_OPERATIONUNAVAIL);
    std::vector<TelephonyModem> modems = TelephonyModems();
    if (deviceId >= modems.size()) return AsResult(LINEERR_BADDEVICEID);
    LineConfigHook hook;
    {
        std::lock_guard lock(s.hookMutex);
        hook = s.hook;
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

LONG TelephonyLines::PumpMessage(HLINEAPP lineApp, int timeoutMs) {
    std::shared_ptr<App> app = state_->Find(state_->apps, lineApp);
    if (!app) return AsResult(LINEERR_INVALAPPHANDLE);
    const int r = app->events->Pump(app->callback, timeoutMs);
    return r < 0 ? AsResult(LINEERR_INVALAPPHANDLE) : r;
}

// ---- The line functions, on the process-wide layer ----

void SetLineConfigHook(LineConfigHook hook) { TelephonyLines::Default().SetConfigHook(std::move(hook)); }

void SetTelephonyAvailable(bool available) { TelephonyLines::Default().SetAvailable(available); }

LONG lineInitialize(HLINEAPP* lineApp, void*, LINECALLBACK callback, const char*, DWORD* numDevs) {
    return TelephonyLines::Default().Initialize(lineApp, callback, numDevs);
}

LONG lineShutdown(HLINEAPP lineApp) { return TelephonyLines::Default().Shutdown(lineApp); }

LONG lineNegotiateAPIVersion(HLINEAPP lineApp, DWORD deviceId, DWORD lowVersion,
                             DWORD highVersion, DWORD* apiVersion, DWORD* extensionId) {
    return TelephonyLines::Default().NegotiateAPIVersion(lineApp, deviceId, lowVersion, highVersion,
                                                         apiVersion, extensionId);
}

LONG lineGetDevCaps(HLINEAPP lineApp, DWORD deviceId, DWORD, DWORD, LINEDEVCAPS* caps) {
    return TelephonyLines::Default().GetDevCaps(lineApp, deviceId, caps);
}

LONG lineOpen(HLINEAPP lineApp, DWORD deviceId, HLINE* line, DWORD, DWORD,
              uintptr_t callbackInstance, DWORD, DWORD mediaModes, const LINECALLPARAMS*) {
    return TelephonyLines::Default().Open(lineApp, deviceId, line, callbackInstance, mediaModes);
}

LONG lineMakeCall(HLINE line, HCALL* call, const char* destAddress, DWORD,
                  const LINECALLPARAMS* params) {
    return TelephonyLines::Default().MakeCall(line, call, destAddress, params);
}

LONG lineGetID(HLINE, DWORD, HCALL call, DWORD select, VARSTRING* deviceId, const char* deviceClass) {
    return TelephonyLines::Default().GetID(call, select, deviceId, deviceClass);
}

std::shared_ptr<CommPort> linePortFromHandle(DWORD portHandle) {
    return TelephonyLines::Default().PortFromHandle(portHandle);
}

LONG lineGetStatusMessages(HLINE line, DWORD* lineStates, DWORD* addressStates) {
    return TelephonyLines::Default().GetStatusMessages(line, lineStates, addressStates);
}

LONG lineSetStatusMessages(HLINE line, DWORD lineStates, DWORD addressStates) {
    return TelephonyLines::Default().SetStatusMessages(line, lineStates, addressStates);
}

LONG lineDrop(HCALL call, const char*, DWORD) { return TelephonyLines::Default().Drop(call); }

LONG lineClose(HLINE line) { return TelephonyLines::Default().Close(line); }

LONG lineDeallocateCall(HCALL call) { return TelephonyLines::Default().DeallocateCall(call); }

LONG lineConfigDialog(DWORD deviceId, void* owner, const char*) {
    return TelephonyLines::Default().ConfigDialog(deviceId, owner);
}

LONG linePumpMessage(HLINEAPP lineApp, int timeoutMs) {
    return TelephonyLines::Default().PumpMessage(lineApp, timeoutMs);
}
