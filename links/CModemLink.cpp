// Modem link: the dial on the modem worker, the call events, the port of the
// connected call and the hang-up.
#include "links/CModemLink.h"

#include "platform/MessageService.h"
#include "platform/Profile.h"
#include "links/CommPort.h"
#include "links/ModemTexts.h"

#include <cstring>

namespace {
constexpr DWORD kDevCapsSize = 252;
constexpr DWORD kVarStringSize = 24;
constexpr DWORD kLineEventsWanted = LINEDEVSTATE_DISCONNECTED | LINEDEVSTATE_OUTOFSERVICE |
                                    LINEDEVSTATE_CLOSE | LINEDEVSTATE_REINIT | LINEDEVSTATE_REMOVED;
static_assert(kLineEventsWanted == 0x1040488);
// The worker looks at its flags at least this often while it waits for the call.
constexpr int kPumpSliceMs = 100;

std::vector<DWORD> Block(DWORD bytes) {
    std::vector<DWORD> block((bytes + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
    block[0] = bytes;  // dwTotalSize
    return block;
}
} // namespace

CModemLink::~CModemLink() {
    events_.store(nullptr);
    Hangup(false);
}

bool CModemLink::SetDestination(const char* text) {
    // strnlen: never read past what the limit needs to tell a long text from a fitting one.
    const std::size_t length = text ? strnlen(text, kMaxDestination + 1) : kMaxDestination + 1;
    std::lock_guard lock(destinationMutex_);
    if (length > kMaxDestination) {
        destination_.clear();
        return false;
    }
    destination_.assign(text, length);
    return true;
}

std::string CModemLink::GetDestination() const {
    std::lock_guard lock(destinationMutex_);
    return destination_;
}

void CModemLink::SetEvents(ModemEvents* events) { events_.store(events); }

int CModemLink::ConfiguredDevice() {
    Profile& p = Profile::get();
    const int device = p.getInt(modemtext::kSection, modemtext::kKeyDevice, -1);
    const std::string path = p.getString(modemtext::kSection, modemtext::kKeyDevicePath, "");
    if (device == -1 || path.empty()) return device;
    // Never another device that happens to hold the stored position now.
    const int found = FindModemByPath(TelephonyModems(), path);
    return found >= 0 ? found : kAbsentDevice;
}

bool CModemLink::IsOpen() const {
    std::lock_guard lock(mutex_);
    return io_.IsRunning();
}

void CModemLink::Progress(int index) {
    if (ModemEvents* e = events_.load()) e->PostUpdateProgress(index);
}

void CModemLink::CallLost() {
    if (ModemEvents* e = events_.load()) {
        e->PostDisconnectBlocked(1);
        e->SendCallLost();
    }
}

void CModemLink::Box(const char* text, const char* title, MsgIcon icon) {
    if (ModemEvents* e = events_.load()) e->SendMessageBox(text, title, icon);
}

int CModemLink::Connect(bool on) {
    ModemEvents* e = events_.load();
    if (on) {
        if (e) e->PostShowProgress(modemtext::kPreparing);
        const int rc = Dial();
        if ((e = events_.load())) e->PostHideProgress();
        return rc == 1 ? 1 : 0;
    }
    if (e) e->PostHideProgress();
    return Hangup(true) == 1 ? 1 : 0;
}

std::string CModemLink::CallResult() const {
    switch (disconnectMode_.load()) {
    case LINEDISCONNECTMODE_BUSY: return "BUSY";
    case LINEDISCONNECTMODE_NOANSWER: return "NO ANSWER";
    case LINEDISCONNECTMODE_UNAVAIL: return "NO CARRIER";
    case LINEDISCONNECTMODE_NODIALTONE: return "NO DIALTONE";
    case LINEDISCONNECTMODE_TEMPFAILURE: return "DELAYED";
    case LINEDISCONNECTMODE_BLOCKED: return "BLACKLISTED";
    case LINEDISCONNECTMODE_BADADDRESS: return "ERROR";
    default: return std::string();
    }
}

bool CModemLink::CarrierHeld() {
    std::lock_guard lock(mutex_);
    bool present = false;
    if (!port_ || port_->GetCarrier(&present) != 0) return true;
    if (present) carrierSeen_ = true;
    return present || !carrierSeen_;
}

int CModemLink::Dial() {
    if (ConfiguredDevice() == -1) return -5;
    disconnectMode_.store(0);
    {
        std::lock_guard lock(mutex_);
        carrierSeen_ = false;
    }
    Progress(modemtext::kInitializing);
    HLINEAPP app = 0;
    DWORD devices = 0;
    const LONG rc = lineInitialize(&app, nullptr, &CModemLink::LineCallback, nullptr, &devices);
    if (rc != 0 && rc != AsResult(LINEERR_REINIT)) {
        if (app) lineShutdown(app);
        if (ModemEvents* e = events_.load()) e->PostDisconnectBlocked(0);
        Box(modemtext::kInitFailedText, modemtext::kInitFailedTitle, MsgIcon::Error);
        return -1;
    }
    {
        std::lock_guard lock(mutex_);
        app_ = app;
    }
    Progress(modemtext::kPreparingCall);
    HLINE line = 0;
    HCALL call = 0;
    if (PlaceCall(devices, &line, &call) == kInvalidPort) return -2;
    Progress(modemtext::kOpening);
    if (!OpenPort()) {
        Box(modemtext::kPortFailedText, modemtext::kPortFailedTitle, MsgIcon::Error);
        return -4;
    }
    if (line) {
        DWORD lineStates = 0, addressStates = 0;
        if (lineGetStatusMessages(line, &lineStates, &addressStates) == 0)
            lineSetStatusMessages(line, lineStates | kLineEventsWanted, addressStates);
    }
    if (ModemEvents* e = events_.load()) e->PostEstablished();
    return 1;
}

std::vector<DWORD> CModemLink::GetDevCaps(DWORD deviceId, DWORD* apiVersion) {
    HLINEAPP app;
    {
        std::lock_guard lock(mutex_);
        app = app_;
    }
    return DevCaps(app, deviceId, apiVersion);
}

std::vector<DWORD> CModemLink::DevCaps(HLINEAPP app, DWORD deviceId, DWORD* apiVersion) {
    DWORD version = 0, extension = 0;
    if (lineNegotiateAPIVersion(app, deviceId, kLowestApiVersion, kHighestApiVersion, &version,
                                &extension) != 0)
        return {};
    if (apiVersion) *apiVersion = version;
    std::vector<DWORD> block = Block(kDevCapsSize);
    auto* caps = reinterpret_cast<LINEDEVCAPS*>(block.data());
    if (lineGetDevCaps(app, deviceId, version, 0, caps) != 0) return {};
    if (caps->dwNeededSize > caps->dwTotalSize) {
        const DWORD needed = caps->dwNeededSize;
        block = Block(needed);
        caps = reinterpret_cast<LINEDEVCAPS*>(block.data());
        if (lineGetDevCaps(app, deviceId, version, 0, caps) != 0 || caps->dwNeededSize > caps->dwTotalSize)
            return {};
    }
    return block;
}

DWORD CModemLink::PlaceCall(DWORD deviceCount, HLINE* lineOut, HCALL* callOut) {
    ModemEvents* e = events_.load();
    auto unblock = [this] {
        if (ModemEvents* ev = events_.load()) ev->PostDisconnectBlocked(0);
    };
    DWORD dataModems = 0;
    DWORD version = 0;
    for (DWORD id = 0; id < deviceCount; ++id) {
        DWORD v = 0;
        std::vector<DWORD> caps = GetDevCaps(id, &v);
        if (caps.empty()) continue;
        version = v;
        if (reinterpret_cast<const LINEDEVCAPS*>(caps.data())->dwMediaModes & LINEMEDIAMODE_DATAMODEM)
            ++dataModems;
    }
    if (dataModems == 0) {
        unblock();
        return kInvalidPort;
    }
    const int device = ConfiguredDevice();
    if (device == -1) {
        unblock();
        return kInvalidPort;
    }
    HLINEAPP app;
    {
        std::lock_guard lock(mutex_);
        app = app_;
    }
    HLINE line = 0;
    if (lineOpen(app, static_cast<DWORD>(device), &line, version, 0,
                 reinterpret_cast<uintptr_t>(this), LINECALLPRIVILEGE_NONE,
                 LINEMEDIAMODE_DATAMODEM, nullptr) != 0) {
        unblock();
        return kInvalidPort;
    }
    {
        std::lock_guard lock(mutex_);
        if (app_ != app) {  // hung up meanwhile: the line went with the application
            lineClose(line);
            return kInvalidPort;
        }
        line_ = line;
    }
    *lineOut = line;

    LINECALLPARAMS params;
    std::memset(&params, 0, sizeof params);
    params.dwTotalSize = sizeof params;
    params.dwBearerMode = 0;
    params.dwMinRate = 110;
    params.dwMaxRate = 57600;
    params.dwMediaMode = LINEMEDIAMODE_DATAMODEM;

    // From here the user may abandon the call with Modem Disconnect.
    dialWait_.store(1);
    if (e) e->PostDisconnectBlocked(0);
    const std::string dest = GetDestination();
    HCALL call = 0;
    const LONG request = lineMakeCall(line, &call, dest.c_str(), 0, &params);
    if (request < 0) {
        Box(modemtext::kCallFailedText, modemtext::kCallFailedTitle, MsgIcon::Error);
        return kInvalidPort;
    }
    {
        std::lock_guard lock(mutex_);
        if (line_ != line) {  // hung up meanwhile
            lineDrop(call, nullptr, 0);
            lineDeallocateCall(call);
            return kInvalidPort;
        }
        call_ = call;
    }
    *callOut = call;

    // The layer runs LineCallback from inside this pump, on this thread.
    while (callConnected_.load() == 0 && dialWait_.load() == 1) {
        if (linePumpMessage(app, kPumpSliceMs) < 0) break;  // shut down by a hang-up
    }
    if (dialWait_.load() == 0 || callConnected_.load() == 0) return kInvalidPort;

    std::vector<DWORD> block = Block(kVarStringSize);
    LONG rc = lineGetID(0, 0, call, LINECALLSELECT_CALL,
                        reinterpret_cast<VARSTRING*>(block.data()), "comm/datamodem");
    if (rc != 0 && rc != AsResult(LINEERR_STRUCTURETOOSMALL)) return kInvalidPort;
    auto* vs = reinterpret_cast<VARSTRING*>(block.data());
    if (vs->dwNeededSize > vs->dwTotalSize) {
        const DWORD needed = vs->dwNeededSize;
        block = Block(needed);
        vs = reinterpret_cast<VARSTRING*>(block.data());
        rc = lineGetID(0, 0, call, LINECALLSELECT_CALL, vs, "comm/datamodem");
        if (rc != 0 || vs->dwNeededSize > vs->dwTotalSize) return kInvalidPort;
    }
    if (vs->dwStringSize < sizeof(DWORD) || vs->dwStringOffset + sizeof(DWORD) > vs->dwTotalSize)
        return kInvalidPort;
    DWORD handle = kInvalidPort;
    std::memcpy(&handle, reinterpret_cast<const char*>(block.data()) + vs->dwStringOffset, sizeof handle);
    std::lock_guard lock(mutex_);
    if (call_ != call) return kInvalidPort;
    portIdBlock_ = std::move(block);
    portHandle_ = handle;
    return handle;
}

bool CModemLink::OpenPort() {
    {
        std::lock_guard lock(mutex_);
        // A hang-up since the call connected: nothing is left to open.
        if (dialWait_.load() == 0) return false;
        std::shared_ptr<CommPort> port =
            portHandle_ == kInvalidPort ? nullptr : linePortFromHandle(portHandle_);
        if (port && port->IsOpen()) {
            PortIo::PreparePort(*port);
            // The line settings are those the layer and the modem chose: written back as read.
            DeviceControlBlock dcb;
            if (port->GetState(&dcb) == 0 && port->SetState(dcb) == 0) {
                callConnected_.store(1);
                if (io_.Start(port, sink_, lost_) == 0) {
                    port_ = port;
                    port->SetDtr(true);
                    return true;
                }
            }
        }
        portHandle_ = kInvalidPort;
    }
    Hangup(true);
    return false;
}

int CModemLink::Hangup(bool showMessage) {
    callConnected_.store(0);
    dialWait_.store(0);
    if (ModemEvents* e = events_.load()) e->PostDisconnectBlocked(1);
    int result = 1;
    {
        std::lock_guard lock(mutex_);
        // The read thread has ended before the port is purged; the layer closes it.
        io_.Stop(closeWait_, /*closePort=*/false, pump_);
        port_.reset();
        if (call_ && lineDrop(call_, nullptr, 0) < 0) {
            callConnected_.store(1);
            result = -1;
        }
        if (line_) {
            if (lineClose(line_) != 0) {
                callConnected_.store(1);
                result = -2;
            }
            line_ = 0;
        }
        if (app_) {
            if (lineShutdown(app_) != 0) {
                callConnected_.store(1);
                result = -3;
            }
            app_ = 0;
        }
        if (result == 1) {
            portIdBlock_.clear();
            if (call_) lineDeallocateCall(call_);
            call_ = 0;
            portHandle_ = kInvalidPort;
        }
    }
    if (result == 1 && showMessage)
        Box(modemtext::kDisconnectedText, modemtext::kDisconnectedTitle, MsgIcon::Information);
    return result;
}

void CModemLink::LineCallback(DWORD, DWORD message, uintptr_t instance, uintptr_t param1,
                              uintptr_t param2, uintptr_t) {
    auto* link = reinterpret_cast<CModemLink*>(instance);
    if (!link) return;
    switch (message) {
    case LINE_CALLSTATE:
        switch (static_cast<DWORD>(param1)) {
        case LINECALLSTATE_IDLE:
            link->Progress(modemtext::kIdle);
            link->CallLost();
            break;
        case LINECALLSTATE_ACCEPTED: link->Progress(modemtext::kAccepted); break;
        case LINECALLSTATE_DIALTONE: link->Progress(modemtext::kDialTone); break;
        case LINECALLSTATE_DIALING: link->Progress(modemtext::kDialing); break;
        case LINECALLSTATE_RINGBACK: link->Progress(modemtext::kRingback); break;
        case LINECALLSTATE_BUSY:
            link->disconnectMode_.store(LINEDISCONNECTMODE_BUSY);
            link->Progress(modemtext::kBusy);
            break;
        case LINECALLSTATE_CONNECTED:
            if (ModemEvents* e = link->events_.load()) e->SendCallConnected(1);
            link->Progress(modemtext::kConnected);
            break;
        case LINECALLSTATE_PROCEEDING: link->Progress(modemtext::kProceeding); break;
        case LINECALLSTATE_DISCONNECTED:
            if (param2) link->disconnectMode_.store(static_cast<DWORD>(param2));
            link->Progress(modemtext::kDisconnected);
            link->CallLost();
            break;
        default: break;
        }
        break;
    case LINE_CLOSE:
        link->CallLost();
        break;
    case LINE_LINEDEVSTATE:
        if (static_cast<DWORD>(param1) & kLineEventsWanted) link->CallLost();
        break;
    case LINE_REPLY: {
        const DWORD result = static_cast<DWORD>(param2);
        if (result >= LINEERR_ALLOCATED && result <= 0x80000056 && result != 0x80000004 &&
            result != 0x80000031)
            link->CallLost();
        break;
    }
    default: break;
    }
}

int CModemLink::Write(const char* bytes, int length) { return io_.Write(bytes, length); }

int CModemLink::Read(char* buffer, int maximum) { return io_.Read(buffer, maximum); }

bool CModemLink::ConfigureModem(const std::function<void(const std::vector<ModemEntry>&)>& runDialog) {
    HLINEAPP app = 0;
    DWORD devices = 0;
    const LONG rc = lineInitialize(&app, nullptr, &CModemLink::LineCallback, nullptr, &devices);
    if (rc != 0 && rc != AsResult(LINEERR_REINIT)) {
        if (app) lineShutdown(app);
        ShowMessage(modemtext::kInitFailedText, modemtext::kInitFailedTitle, MsgIcon::Error);
        return false;
    }
    std::vector<ModemEntry> entries;
    for (DWORD id = 0; id < devices && entries.size() < kMaxModemEntries; ++id) {
        std::vector<DWORD> block = DevCaps(app, id, nullptr);
        if (block.empty()) continue;
        const auto* caps = reinterpret_cast<const LINEDEVCAPS*>(block.data());
        if (!(caps->dwMediaModes & LINEMEDIAMODE_DATAMODEM)) continue;
        std::string name;
        const size_t bytes = block.size() * sizeof(DWORD);
        if (caps->dwLineNameSize > 0 && caps->dwLineNameOffset < bytes &&
            caps->dwLineNameSize <= bytes - caps->dwLineNameOffset) {
            const char* text = reinterpret_cast<const char*>(block.data()) + caps->dwLineNameOffset;
            name.assign(text, strnlen(text, caps->dwLineNameSize));
        }
        entries.push_back({name, id});
    }
    runDialog(entries);
    // The dialog's Configure needs the layer only while it is open.
    lineShutdown(app);
    return true;
}
