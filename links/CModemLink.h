// The modem link: places a data call through the telephony layer on the modem worker,
// then reads and writes the call's port with the port I/O the serial link uses.
// Connect(true), Dial, PlaceCall, OpenPort and LineCallback run on the modem worker;
// Write, Hangup from a disconnect, ConfigureModem and the settings on the GUI thread;
// Read and the receive sink on the read thread. The link reaches the frame only
// through ModemEvents, whose calls stand for the frame's window messages.
#pragma once

#include "links/PortIo.h"
#include "links/Telephony.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class ReceiveSink;
enum class MsgIcon;

// The frame's side of the modem messages. "Post" calls return at once; "Send" calls
// return once the frame has handled them (or the call attempt was abandoned).
class ModemEvents {
public:
    virtual ~ModemEvents() = default;
    virtual void PostShowProgress(int index) = 0;          // WM_USER+12
    virtual void PostHideProgress() = 0;                   // WM_USER+13
    virtual void PostUpdateProgress(int index) = 0;        // WM_USER+14
    virtual void PostDisconnectBlocked(int blocked) = 0;   // WM_USER+11
    virtual void SendCallConnected(int flag) = 0;          // WM_USER+7
    virtual void PostEstablished() = 0;                    // WM_USER+8
    virtual void SendCallLost() = 0;                       // WM_USER+9
    // A message box, shown on the GUI thread while the caller waits.
    virtual void SendMessageBox(const char* text, const char* title, MsgIcon icon) = 0;
};

// A data modem offered by Modem Configure.
struct ModemEntry {
    std::string name;
    DWORD deviceId = 0;
};

class CModemLink {
public:
    // The dial string holds at most this many characters.
    static constexpr std::size_t kMaxDestination = 83;
    static constexpr std::size_t kMaxModemEntries = 16;
    static constexpr DWORD kInvalidPort = 0xFFFFFFFF;

    CModemLink() = default;
    // Hangs up a call still up, without telling the user.
    virtual ~CModemLink();
    CModemLink(const CModemLink&) = delete;
    CModemLink& operator=(const CModemLink&) = delete;

    // Keeps a copy of text as the number to dial. A text longer than 83 characters
    // (or none) is refused: the dial string becomes empty rather than a cut-off
    // number that could reach the wrong switch, and false is returned.
    bool SetDestination(const char* text);
    std::string GetDestination() const;

    // Set before the first Connect; both must outlive the link's use of them.
    void SetEvents(ModemEvents* events);
    void SetReceiver(ReceiveSink* sink) { sink_ = sink; }
    void SetCloseWait(std::chrono::milliseconds wait) { closeWait_ = wait; }
    // Runs every few milliseconds while a hang-up waits for the read thread: the GUI's
    // way to release a blocking request the thread made just before it was told to end.
    void SetCloseWaitPump(std::function<void()> pump) { pump_ = std::move(pump); }
    // Called once on the read thread when the open port fails (the modem or its line
    // is gone); set before Connect.
    void SetPortLostHandler(std::function<void(int error)> handler) { lost_ = std::move(handler); }

    // on: the whole dial (progress window shown and hidden); off: Hangup(true).
    // Nonzero is success.
    int Connect(bool on);
    // 1, or -1 (not initialised), -2 (no call), -4 (port not set up), -5 (no device).
    int Dial();
    // The port handle of the connected call, or kInvalidPort.
    DWORD PlaceCall(DWORD deviceCount, HLINE* line, HCALL* call);
    // The device's capabilities block (empty on failure) and the negotiated version.
    std::vector<DWORD> GetDevCaps(DWORD deviceId, DWORD* apiVersion);
    bool OpenPort();
    // 1, or -1 (drop failed), -2 (close failed), -3 (shutdown failed).
    int Hangup(bool showMessage);
    static void LineCallback(DWORD device, DWORD message, uintptr_t instance, uintptr_t param1,
                             uintptr_t param2, uintptr_t param3);

    int Write(const char* bytes, int length);
    int Read(char* buffer, int maximum);

    // Lists up to 16 data modems and hands them to runDialog with the layer
    // initialised; false when it cannot be initialised (the user has been told).
    bool ConfigureModem(const std::function<void(const std::vector<ModemEntry>&)>& runDialog);

    // Output the far end holds back by flow control: held, released, given up. Set
    // before Connect; called on the writer thread (see PortIo::SetOutputNotice).
    void SetOutputNotice(std::function<void(const OutputNotice&)> notice) { io_.SetOutputNotice(std::move(notice)); }
    // The modem's final result code for the last call that ended while being placed
    // ("BUSY", "NO CARRIER", "NO ANSWER", "NO DIALTONE", "DELAYED", ...), or empty.
    std::string CallResult() const;
    // The connected call's carrier: false only once the line has shown carrier (DCD)
    // and then lost it; a line without modem lines, or whose carrier was never seen,
    // gives true. GUI thread.
    bool CarrierHeld();

    // WM_USER+7 and WM_USER+9 set these on the GUI thread.
    void SetCallConnected(int flag) { callConnected_.store(flag); }
    int CallConnected() const { return callConnected_.load(); }
    void SetDialWait(int flag) { dialWait_.store(flag); }
    int DialWait() const { return dialWait_.load(); }
    bool IsOpen() const;

    // The chosen modem's device ID among the modems present now (kAbsentDevice when
    // its device is gone), -1 when none is chosen.
    static int ConfiguredDevice();
    static constexpr int kAbsentDevice = 0x7FFFFFFF;

private:
    static std::vector<DWORD> DevCaps(HLINEAPP app, DWORD deviceId, DWORD* apiVersion);
    void Progress(int index);
    void CallLost();
    void Box(const char* text, const char* title, MsgIcon icon);

    mutable std::mutex destinationMutex_;
    std::string destination_ = "0";

    std::atomic<ModemEvents*> events_{nullptr};
    ReceiveSink* sink_ = nullptr;
    std::chrono::milliseconds closeWait_{3000};
    std::function<void()> pump_;
    std::function<void(int)> lost_;

    std::atomic<int> callConnected_{0};
    std::atomic<DWORD> disconnectMode_{0};  // of the call being placed
    bool carrierSeen_ = false;              // under mutex_
    std::atomic<int> dialWait_{1};

    // The layer's handles and the open port, shared by the worker and the GUI thread.
    mutable std::mutex mutex_;
    HLINEAPP app_ = 0;
    HLINE line_ = 0;
    HCALL call_ = 0;
    DWORD portHandle_ = kInvalidPort;
    std::vector<DWORD> portIdBlock_;
    std::shared_ptr<CommPort> port_;
    PortIo io_;
};
