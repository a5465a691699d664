// CIsdnLink: one ISDN call through the adapter library. connect(), write() and
// close() run on the main thread; a reader thread polls the call every 5 ms and
// hands each received block to the consumer (the Telnet input machine) on that
// reader thread.
#pragma once

#include "links/IsdnAdapter.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>

class CIsdnLink {
public:
    // Called on the reader thread with 1..kReadBufferSize bytes.
    using Consumer = std::function<void(const unsigned char* bytes, int length)>;

    static constexpr int kReadBufferSize = 2048;
    static constexpr int kPollIntervalMs = 5;

    // libraryPath: see IsdnAdapter (empty: the usual search).
    explicit CIsdnLink(std::string libraryPath = std::string());
    // Closes the call if this link still holds it and waits for the reader.
    virtual ~CIsdnLink();
    CIsdnLink(const CIsdnLink&) = delete;
    CIsdnLink& operator=(const CIsdnLink&) = delete;

    // Set before connect(); the reader thread owns it while the call is up.
    void setConsumer(Consumer consumer);
    // Called once on the reader thread when the adapter reports the call over (the
    // far end hung up); the reader stops polling. The owner then closes the link.
    void setCallEndedHandler(std::function<void()> handler);

    // Dials the number stored in "ISDN" / "History %c" and starts the reader.
    // A failed dial shows "Connection is failed Error Code is %d" and leaves
    // nothing running; lastErrorCode() keeps the code. Returns true when the
    // call is up.
    bool connect();
    int lastErrorCode() const { return lastErrorCode_; }

    // Sends the bytes; true on success. A failure shows "Can't Send Data To ISDN
    // Port" unless reportFailure is false (a reader-thread reply must not wait
    // on a message box while the main thread may be closing the link).
    bool write(const unsigned char* bytes, int length, bool reportFailure = true);
    bool write(const char* bytes, int length, bool reportFailure = true);

    // Clears the running flag, hangs up the call this link placed and waits for
    // the reader thread to end. Safe to call again or without a call.
    void close();

    // 1 while the call is up and the reader is to keep reading.
    bool running() const { return running_.load() != 0; }

protected:
    // Starts the reader thread; false when it cannot be started.
    virtual bool startReader();
    void readerLoop();

private:
    void joinReader();

    IsdnAdapter adapter_;
    Consumer consumer_;
    std::function<void()> callEnded_;
    std::atomic<int> running_{0};
    std::atomic<bool> holdsCall_{false};  // only the link that dialled may use the call
    int lastErrorCode_ = 0;
    std::thread reader_;
};
