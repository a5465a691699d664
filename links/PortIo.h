// The port I/O the serial and the modem link share: the read thread that drains an
// open port into a ReceiveSink, the read and the write. Start, Stop and Write run on
// the thread that owns the link (GUI or modem worker); Read and the sink call on the
// read thread.
//
// Stop waits for the read thread before the port is purged (and closed), but at most
// the given time: a thread held up in the sink (the password dialog waits for the GUI)
// is left to finish alone and releases the port itself when it gets out.
#pragma once

#include "links/CommPort.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class ReceiveSink;

// What becomes of output the far end holds back by flow control (XOFF, CTS low).
struct OutputNotice {
    enum class Kind {
        Held,      // a write made no progress: output waits for the line to be released
        Released,  // everything waiting has gone out, in order
        NotSent,   // held past the bound, or a port error: `lines` were given up
    };
    Kind kind = Kind::Held;
    std::vector<std::string> lines;  // the writes given up, as they were asked for
};

// The lines of writes that were given up, one per line after intro, for the one box
// that tells them (blank lines left out).
std::string NotSentText(const char* intro, const std::vector<std::string>& writes);

class PortIo {
public:
    static constexpr int kReadChunk = 65536;
    // What a tty's 4 KiB line buffer holds (one byte less): a read this long found
    // it full. (A read can return more when the tty refills it meanwhile.)
    static constexpr int kTtyReadSize = 4095;
    // How long a close lets written bytes (the log-out) leave before the line drops.
    static constexpr int kCloseDrainMs = 500;
    // The longest a caller of Write waits: the rest goes out from the writer thread.
    static constexpr int kWriteWaitMs = 80;
    // Held output waits this long without progress before it is given up.
    static constexpr std::chrono::milliseconds kHeldBound{60000};

    PortIo() = default;
    ~PortIo() { Stop(std::chrono::milliseconds(3000), true); }
    PortIo(const PortIo&) = delete;
    PortIo& operator=(const PortIo&) = delete;

    // Takes a set-up port and starts its read thread. 0, or the error of the thread
    // creation (the port is then left as it was, not released).
    int Start(std::shared_ptr<CommPort> port, ReceiveSink* sink, std::function<void(int)> lost);
    // Clears the running flag, ends the thread's wait, waits for the thread, then
    // lowers DTR, purges and, with closePort, closes. Nothing when not running.
    // pump, when given, runs every few milliseconds while Stop waits: the owner's way
    // to answer a blocking request the thread made just before it was told to end.
    void Stop(std::chrono::milliseconds wait, bool closePort,
              const std::function<void()>& pump = {});
    bool IsRunning() const { return reader_ != nullptr; }

    // Called on the writer thread when output is held, released or given up. Set
    // before Start; it must not wait for the thread that calls Write or Stop.
    void SetOutputNotice(std::function<void(const OutputNotice&)> notice) { notice_ = std::move(notice); }
    void SetHeldBound(std::chrono::milliseconds bound) { heldBound_ = bound; }

    // Writes go out in order from a writer thread, so that a line held by flow
    // control never holds the caller: 1 when the bytes went, or wait behind held
    // output (the notice then tells what becomes of them); 0 on a port error or
    // when not running. Owner thread; waits at most kWriteWaitMs.
    int Write(const char* bytes, int length);
    // Bytes placed in buffer, 0 when none are waiting; read thread only.
    int Read(char* buffer, int maximum);
    // The set-up both links give a port before reading: the received-character event,
    // empty queues and the read and write time-outs.
    static void PreparePort(CommPort& port);
    // At most maximum of the bytes waiting, without waiting for more.
    static int ReadWaiting(CommPort& port, char* buffer, int maximum);

private:
    struct Reader;
    struct Writer;
    static void WriteThread(std::shared_ptr<Writer> writer);
    void StopWriter();
    static void ReadThread(std::shared_ptr<Reader> reader);
    static void ReleasePort(Reader& reader);

    std::shared_ptr<Reader> reader_;  // non-null while running
    std::thread thread_;
    std::shared_ptr<Writer> writer_;  // non-null while running
    std::thread writerThread_;
    std::function<void(const OutputNotice&)> notice_;
    std::chrono::milliseconds heldBound_ = kHeldBound;
};
