// The AT dialler under the line functions: one Hayes-compatible modem on a serial
// device, opened and initialised, and one dial thread per call that writes ATD and
// turns the modem's result codes into call states. Its reports go to the
// application's event queue, which the application's dialling thread pumps.
#pragma once

#include "links/ModemDiscovery.h"
#include "links/Telephony.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CommPort;

// A numeric result code (ATV0) as its words ("7" -> "BUSY"); other text unchanged.
std::string VerboseResult(const std::string& reply);

namespace atdial {

struct Event {
    DWORD device;
    DWORD message;
    uintptr_t instance;
    uintptr_t param1;
    uintptr_t param2;
    uintptr_t param3;
};

// An application's events, waiting for its dialling thread.
class EventQueue {
public:
    void Post(const Event& e);
    // Waits up to timeoutMs (-1: no limit) and runs the next event's callback on the
    // calling thread: 1 one ran, 0 none came, -1 the queue is shut down.
    int Pump(LINECALLBACK callback, int timeoutMs);
    // Drops what is queued and wakes a waiting pump; later events are dropped.
    void Shutdown();

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Event> queue_;
    bool shutdown_ = false;
};

// An open modem.
struct Line {
    HLINE handle = 0;
    std::shared_ptr<EventQueue> events;
    uintptr_t instance = 0;
    TelephonyModem modem;
    std::shared_ptr<CommPort> port;
    bool hasDtr = false;
    int guardMs = telephony::kDefaultGuardMs;  // silence around "+++" (lines without DTR only)
    DWORD lineStates = 0;     // kept by the line functions under their lock
    DWORD addressStates = 0;  // likewise

    // One user of the modem at a time: the dial thread, then a hang-up or a close.
    std::mutex io;
    std::string pending;  // received, not yet a whole line; under io
};

// Opens the modem's device exclusively and initialises the modem: 0 or a LINEERR result.
LONG OpenModem(Line& line);
// Closes the device, waiting for whoever uses the modem.
void CloseModem(Line& line);

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
    DWORD portHandle = 0;  // kept by the line functions under their lock

    // Starts the dial thread (request: the LINE_REPLY it answers first); under mutex.
    // Throws std::system_error when no thread can be made.
    void StartDial(LONG request, const std::string& dest);
    // Ends the dial thread; from the thread itself it is let go.
    void StopThread();
    // Stops the dial thread and puts the modem on hook; once per call.
    void Drop();
    ~Call() { StopThread(); }
};

} // namespace atdial
