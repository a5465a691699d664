// The shared port I/O: read thread, read and write over a CommPort.
#include "links/PortIo.h"

#include "terminal/ReceiveSink.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>

// What the read thread shares with its owner. Owned jointly, so a thread that Stop
// stopped waiting for can still finish and release the port itself.
struct PortIo::Reader {
    std::shared_ptr<CommPort> port;
    std::atomic<int> running{0};
    ReceiveSink* sink = nullptr;
    std::function<void(int)> lost;
    bool closePort = true;

    std::mutex mutex;
    std::condition_variable ended;
    bool finished = false;   // the thread is past its last use of the sink
    bool abandoned = false;  // Stop returned without it; the thread releases the port
};

int PortIo::Start(std::shared_ptr<CommPort> port, ReceiveSink* sink,
                  std::function<void(int)> lost) {
    if (reader_ || !port) return EBUSY;
    auto reader = std::make_shared<Reader>();
    reader->port = std::move(port);
    reader->sink = sink;
    reader->lost = std::move(lost);
    reader->running.store(1);
    try {
        thread_ = std::thread(&PortIo::ReadThread, reader);
    } catch (const std::system_error& e) {
        return e.code().value() ? e.code().value() : EAGAIN;
    }
    reader_ = std::move(reader);
    return 0;
}

void PortIo::ReleasePort(Reader& reader) {
    // What was written last (the log-out) must leave before the line drops and the
    // queues are purged: discarding unsent output here would lose it. Output held up
    // by flow control is discarded after a while so that the close never hangs.
    CommPort& port = *reader.port;
    const bool drained = port.Drain(kCloseDrainMs) == 0;
    port.SetDtr(false);  // a pty has no DTR line: ENOTSUP is fine
    if (drained)
        port.PurgeInput();
    else
        port.Purge();
    if (reader.closePort) port.Close();
}

void PortIo::Stop(std::chrono::milliseconds wait, bool closePort, const std::function<void()>& pump) {
    if (!reader_) return;
    std::shared_ptr<Reader> reader = std::move(reader_);
    reader->running.store(0);
    reader->port->SetCommMask(0);  // ends the thread's wait

    const bool joinable = thread_.joinable() && thread_.get_id() != std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(reader->mutex);
    reader->closePort = closePort;
    if (joinable) {
        const auto until = std::chrono::steady_clock::now() + wait;
        const auto step = pump ? std::chrono::milliseconds(5) : wait;
        while (!reader->finished && std::chrono::steady_clock::now() < until) {
            reader->ended.wait_for(lock, step, [&] { return reader->finished; });
            if (reader->finished || !pump) continue;
            lock.unlock();
            pump();
            lock.lock();
        }
    }
    if (reader->finished) {
        lock.unlock();
        thread_.join();
        ReleasePort(*reader);
    } else {
        reader->abandoned = true;
        lock.unlock();
        if (thread_.joinable()) thread_.detach();
    }
}

void PortIo::PreparePort(CommPort& port) {
    port.SetCommMask(EV_RXCHAR);
    port.Purge();
    CommTimeouts t;
    t.readIntervalTimeout = MAXDWORD;
    t.readTotalTimeoutMultiplier = 10;
    t.readTotalTimeoutConstant = 1000;
    t.writeTotalTimeoutMultiplier = 10;
    t.writeTotalTimeoutConstant = 1000;
    port.SetTimeouts(t);
}

int PortIo::ReadWaiting(CommPort& port, char* buffer, int maximum) {
    size_t waiting = 0;
    if (port.BytesWaiting(&waiting) != 0 || maximum <= 0) return 0;
    size_t n = waiting < static_cast<size_t>(maximum) ? waiting : static_cast<size_t>(maximum);
    if (n == 0) return 0;
    size_t got = 0;
    port.Read(buffer, n, &got);  // errors are only cleared; the count read stands
    return static_cast<int>(got);
}

int PortIo::Read(char* buffer, int maximum) {
    if (!reader_) return 0;
    return ReadWaiting(*reader_->port, buffer, maximum);
}

int PortIo::Write(const char* bytes, int length) {
    if (!reader_ || length < 0 || (length > 0 && !bytes)) return 0;
    if (length == 0) return 1;
    size_t written = 0;
    int err = reader_->port->Write(bytes, static_cast<size_t>(length), &written);
    return err == 0 || err == ETIMEDOUT ? 1 : 0;
}

void PortIo::ReadThread(std::shared_ptr<Reader> reader) {
    CommPort& port = *reader->port;
    char buffer[kReadChunk + 1];
    bool reported = false;
    port.SetCommMask(EV_RXCHAR);
    while (reader->running.load()) {
        uint32_t events = 0;
        if (int err = port.WaitCommEvent(&events)) {
            if (!reader->running.load()) break;
            if (!reported) {
                reported = true;
                if (reader->lost) reader->lost(err);
            }
            // Nothing more will come from this port: sleep until Stop changes the mask.
            port.WaitMaskChange();
            continue;
        }
        if (!(events & EV_RXCHAR)) continue;
        while (reader->running.load()) {
            int n = ReadWaiting(port, buffer, kReadChunk);
            if (n <= 0) break;
            buffer[n] = '\0';
            if (reader->sink) reader->sink->AppendReceived(buffer, n);
        }
    }
    std::lock_guard<std::mutex> lock(reader->mutex);
    reader->finished = true;
    if (reader->abandoned) ReleasePort(*reader);
    reader->ended.notify_all();
}
