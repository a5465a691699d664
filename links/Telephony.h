// The telephony layer the modem link dials through: the line functions, driving
// Hayes-compatible AT modems on serial devices through CommPort (the dialler is in
// AtDialler, the modems offered come from ModemDiscovery). Thread-safe; a line's
// events are queued for its application and reach the LINECALLBACK only on the
// thread that pumps them with linePumpMessage (the dialling thread).
//
// The line functions work on one process-wide TelephonyLines; a test may make its own.
#pragma once

#include "links/ModemDiscovery.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CommPort;

using DWORD = uint32_t;
using LONG = int32_t;
using HLINEAPP = uint32_t;
using HLINE = uint32_t;
using HCALL = uint32_t;

// hDevice is the call handle for call events and the line handle for line events.
using LINECALLBACK = void (*)(DWORD hDevice, DWORD message, uintptr_t instance,
                              uintptr_t param1, uintptr_t param2, uintptr_t param3);

// Results: 0 or a request ID is success, these codes (negative as LONG) are errors.
inline constexpr DWORD LINEERR_ALLOCATED = 0x80000001;
inline constexpr DWORD LINEERR_BADDEVICEID = 0x80000002;
inline constexpr DWORD LINEERR_CALLUNAVAIL = 0x80000007;
inline constexpr DWORD LINEERR_INCOMPATIBLEAPIVERSION = 0x8000000C;
inline constexpr DWORD LINEERR_INVALAPPHANDLE = 0x80000015;
inline constexpr DWORD LINEERR_INVALCALLHANDLE = 0x80000018;
inline constexpr DWORD LINEERR_INVALCALLSTATE = 0x8000001C;
inline constexpr DWORD LINEERR_INVALDEVICECLASS = 0x80000023;
inline constexpr DWORD LINEERR_INVALLINEHANDLE = 0x8000002B;
inline constexpr DWORD LINEERR_INVALPARAM = 0x80000032;
inline constexpr DWORD LINEERR_INVALPOINTER = 0x80000035;
inline constexpr DWORD LINEERR_NODEVICE = 0x80000042;
inline constexpr DWORD LINEERR_NOMEM = 0x80000044;
inline constexpr DWORD LINEERR_RESOURCEUNAVAIL = 0x80000047;
inline constexpr DWORD LINEERR_OPERATIONFAILED = 0x80000048;
inline constexpr DWORD LINEERR_OPERATIONUNAVAIL = 0x80000049;
inline constexpr DWORD LINEERR_STRUCTURETOOSMALL = 0x8000004D;
inline constexpr DWORD LINEERR_REINIT = 0x80000052;
inline constexpr LONG AsResult(DWORD code) { return static_cast<LONG>(code); }

// Messages.
inline constexpr DWORD LINE_CALLSTATE = 2;
inline constexpr DWORD LINE_CLOSE = 3;
inline constexpr DWORD LINE_LINEDEVSTATE = 8;
inline constexpr DWORD LINE_REPLY = 12;

// Call states (param1 of LINE_CALLSTATE).
inline constexpr DWORD LINECALLSTATE_IDLE = 0x1;
inline constexpr DWORD LINECALLSTATE_ACCEPTED = 0x4;
inline constexpr DWORD LINECALLSTATE_DIALTONE = 0x8;
inline constexpr DWORD LINECALLSTATE_DIALING = 0x10;
inline constexpr DWORD LINECALLSTATE_RINGBACK = 0x20;
inline constexpr DWORD LINECALLSTATE_BUSY = 0x40;
inline constexpr DWORD LINECALLSTATE_CONNECTED = 0x100;
inline constexpr DWORD LINECALLSTATE_PROCEEDING = 0x200;
inline constexpr DWORD LINECALLSTATE_DISCONNECTED = 0x4000;

// Why a call ended (param2 of LINE_CALLSTATE with LINECALLSTATE_DISCONNECTED): the
// modem's final result code, 0 when none came (a port error, no answer in time).
inline constexpr DWORD LINEDISCONNECTMODE_BADADDRESS = 0x80;     // ERROR (a dial string refused)
inline constexpr DWORD LINEDISCONNECTMODE_BUSY = 0x20;           // BUSY
inline constexpr DWORD LINEDISCONNECTMODE_NOANSWER = 0x40;       // NO ANSWER
inline constexpr DWORD LINEDISCONNECTMODE_UNAVAIL = 0x800;       // NO CARRIER
inline constexpr DWORD LINEDISCONNECTMODE_NODIALTONE = 0x1000;   // NO DIALTONE
inline constexpr DWORD LINEDISCONNECTMODE_TEMPFAILURE = 0x8000;  // DELAYED
inline constexpr DWORD LINEDISCONNECTMODE_BLOCKED = 0x20000;     // BLACKLISTED

// Line device states (param1 of LINE_LINEDEVSTATE, and the status-message mask).
inline constexpr DWORD LINEDEVSTATE_DISCONNECTED = 0x8;
inline constexpr DWORD LINEDEVSTATE_OUTOFSERVICE = 0x80;
inline constexpr DWORD LINEDEVSTATE_CLOSE = 0x400;
inline constexpr DWORD LINEDEVSTATE_REINIT = 0x40000;
inline constexpr DWORD LINEDEVSTATE_REMOVED = 0x1000000;

inline constexpr DWORD LINEMEDIAMODE_DATAMODEM = 0x10;
inline constexpr DWORD LINECALLPRIVILEGE_NONE = 0x1;
inline constexpr DWORD LINECALLSELECT_CALL = 0x4;
inline constexpr DWORD LINEBEARERMODE_DATA = 0x8;
inline constexpr DWORD STRINGFORMAT_BINARY = 0x4;

inline constexpr DWORD kLowestApiVersion = 0x00010004;
inline constexpr DWORD kHighestApiVersion = 0x00020001;

// Variable-sized blocks: the caller sets dwTotalSize; an answer that does not fit
// sets dwNeededSize larger and fills only the fixed part.
struct VARSTRING {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    DWORD dwStringFormat;
    DWORD dwStringSize;
    DWORD dwStringOffset;
};
static_assert(sizeof(VARSTRING) == 24);

struct LINEDEVCAPS {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    DWORD dwLineNameSize;    // including the terminating zero
    DWORD dwLineNameOffset;  // from the start of the block
    DWORD dwMediaModes;
    DWORD dwBearerModes;
    DWORD dwMaxRate;
    DWORD dwNumAddresses;
};

struct LINECALLPARAMS {
    DWORD dwTotalSize;
    DWORD dwBearerMode;
    DWORD dwMinRate;
    DWORD dwMaxRate;
    DWORD dwMediaMode;
    DWORD dwReserved[39];
};
static_assert(sizeof(LINECALLPARAMS) == 176);

LONG lineInitialize(HLINEAPP* lineApp, void* instance, LINECALLBACK callback,
                    const char* appName, DWORD* numDevs);
LONG lineShutdown(HLINEAPP lineApp);
LONG lineNegotiateAPIVersion(HLINEAPP lineApp, DWORD deviceId, DWORD lowVersion,
                             DWORD highVersion, DWORD* apiVersion, DWORD* extensionId);
LONG lineGetDevCaps(HLINEAPP lineApp, DWORD deviceId, DWORD apiVersion, DWORD extVersion,
                    LINEDEVCAPS* caps);
// Opens the modem's device (exclusively) and initialises the modem with its init string.
LONG lineOpen(HLINEAPP lineApp, DWORD deviceId, HLINE* line, DWORD apiVersion,
              DWORD extVersion, uintptr_t callbackInstance, DWORD privileges,
              DWORD mediaModes, const LINECALLPARAMS* params);
// Dials with ATD; returns a request ID (> 0) and reports the call's progress as events.
LONG lineMakeCall(HLINE line, HCALL* call, const char* destAddress, DWORD countryCode,
                  const LINECALLPARAMS* params);
// "comm/datamodem" on a connected call: a port handle at offset 24 of the block,
// followed by the device path. linePortFromHandle gives the port itself.
LONG lineGetID(HLINE line, DWORD addressId, HCALL call, DWORD select, VARSTRING* deviceId,
               const char* deviceClass);
LONG lineGetStatusMessages(HLINE line, DWORD* lineStates, DWORD* addressStates);
LONG lineSetStatusMessages(HLINE line, DWORD lineStates, DWORD addressStates);
// Hangs up: DTR drop, "+++" where the device has no DTR line, then ATH.
LONG lineDrop(HCALL call, const char* userUserInfo, DWORD size);
LONG lineClose(HLINE line);
LONG lineDeallocateCall(HCALL call);
// Lets the user edit the modem's device path and init string (through the hook).
LONG lineConfigDialog(DWORD deviceId, void* owner, const char* deviceClass);

// Waits up to timeoutMs (-1: no limit) for the application's next event and runs
// its callback on the calling thread. 1: one was run, 0: none came,
// LINEERR_INVALAPPHANDLE once the application has been shut down.
LONG linePumpMessage(HLINEAPP lineApp, int timeoutMs);
// The open port behind a handle from lineGetID; empty once its call is gone.
std::shared_ptr<CommPort> linePortFromHandle(DWORD portHandle);

// The dialog lineConfigDialog runs: edits the modem in place, true on OK. Installed
// by the user interface; without one lineConfigDialog fails.
using LineConfigHook = std::function<bool(TelephonyModem& modem, void* owner)>;
void SetLineConfigHook(LineConfigHook hook);

// false makes every line function answer LINEERR_OPERATIONUNAVAIL, as when the
// layer cannot be loaded.
void SetTelephonyAvailable(bool available);

namespace telephony {
// Silence before and after "+++" when the line has no DTR to drop (ms).
inline constexpr const char* kKeyGuardMs = "EscapeGuardMs";
inline constexpr int kDefaultGuardMs = 1000;
// How long the modem may take for an ordinary command, for a call to be answered.
inline constexpr int kCommandMs = 3000;
inline constexpr int kDialMs = 60000;
} // namespace telephony

// The state behind the line functions: applications, lines, calls and port handles.
// Each instance is a telephony layer of its own (handles mean nothing to another);
// destroying one shuts down its applications.
class TelephonyLines {
public:
    TelephonyLines();
    ~TelephonyLines();
    TelephonyLines(const TelephonyLines&) = delete;
    TelephonyLines& operator=(const TelephonyLines&) = delete;

    // The one the line functions use.
    static TelephonyLines& Default();

    LONG Initialize(HLINEAPP* lineApp, LINECALLBACK callback, DWORD* numDevs);
    LONG Shutdown(HLINEAPP lineApp);
    LONG NegotiateAPIVersion(HLINEAPP lineApp, DWORD deviceId, DWORD lowVersion,
                             DWORD highVersion, DWORD* apiVersion, DWORD* extensionId);
    LONG GetDevCaps(HLINEAPP lineApp, DWORD deviceId, LINEDEVCAPS* caps);
    LONG Open(HLINEAPP lineApp, DWORD deviceId, HLINE* line, uintptr_t callbackInstance,
              DWORD mediaModes);
    LONG MakeCall(HLINE line, HCALL* call, const char* destAddress, const LINECALLPARAMS* params);
    LONG GetID(HCALL call, DWORD select, VARSTRING* deviceId, const char* deviceClass);
    LONG GetStatusMessages(HLINE line, DWORD* lineStates, DWORD* addressStates);
    LONG SetStatusMessages(HLINE line, DWORD lineStates, DWORD addressStates);
    LONG Drop(HCALL call);
    LONG Close(HLINE line);
    LONG DeallocateCall(HCALL call);
    LONG ConfigDialog(DWORD deviceId, void* owner);
    LONG PumpMessage(HLINEAPP lineApp, int timeoutMs);
    std::shared_ptr<CommPort> PortFromHandle(DWORD portHandle);
    void SetConfigHook(LineConfigHook hook);
    void SetAvailable(bool available);

private:
    struct State;
    std::unique_ptr<State> state_;
};
