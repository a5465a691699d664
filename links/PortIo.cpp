// The shared port I/O: read thread, read and write over a CommPort.
#include "links/PortIo.h"

#include "terminal/ReceiveSink.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
// One slice of a write on the writer thread; short, so that a close is not held up.
constexpr uint32_t kWriteSliceMs = 100;
} // namespace

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

// The output queue: Write appends and waits a little, the writer thread sends in order.
struct PortIo::Writer {
    struct Entry {
        std::string bytes;
        size_t sent = 0;
        uint64_t id = 0;
    };
    std::shared_ptr<CommPort> port;
    std::function<void(const OutputNotice&)> notice;
    std::chrono::milliseconds bound{0};

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Entry> queue;
    uint64_t nextId = 1;
    uint64_t settled = 0;  // every write up to this id has gone or been given up
    uint64_t failedLow = 1, failedHigh = 0;  // the writes a port error gave up
    bool stopping = false;
    Clock::time_point drainUntil{};

    // Empties the queue; the lines given up, for the notice.
    std::vector<std::string> GiveUpAll() {
        std::vector<std::string> lines;
        for (Entry& e : queue) lines.push_back(std::move(e.bytes));
        queue.clear();
        settled = nextId - 1;
        changed.notify_all();
        return lines;
    }
};

std::string NotSentText(const char* intro, const std::vector<std::string>& writes) {
    std::string text = intro;
    std::string all;
    for (const std::string& part : writes) all += part;
    std::string line;
    for (char c : all + '\r') {
        if (c != '\r' && c != '\n') {
            line += c;
        } else if (!line.empty()) {
            text += "\n" + line;
            line.clear();
        }
    }
    return text;
}

void PortIo::WriteThread(std::shared_ptr<Writer> w) {
    std::unique_lock lock(w->mutex);
    bool held = false;
    Clock::time_point heldSince{};
    for (;;) {
        w->changed.wait(lock, [&] { return w->stopping || !w->queue.empty(); });
        if (w->queue.empty()) break;
        // A close gives what is waiting (the log-out) a moment, then drops it quietly:
        // the user asked for the line to go.
        if (w->stopping && Clock::now() >= w->drainUntil) {
            w->GiveUpAll();
            break;
        }
        const std::string chunk = w->queue.front().bytes.substr(w->queue.front().sent);
        lock.unlock();
        size_t written = 0;
        const int err = w->port->Write(chunk.data(), chunk.size(), &written);
        lock.lock();
        Writer::Entry& head = w->queue.front();  // only this thread removes entries
        head.sent += written;
        OutputNotice notice;
        bool tell = false;
        if (written > 0) heldSince = Clock::now();
        if (head.sent >= head.bytes.size()) {
            w->settled = head.id;
            w->queue.pop_front();
            w->changed.notify_all();
            if (held && w->queue.empty()) {
                held = false;
                notice.kind = OutputNotice::Kind::Released;
                tell = true;
            }
        } else if (err != 0 && err != ETIMEDOUT) {
            w->failedLow = head.id;
            w->failedHigh = w->nextId - 1;
            notice.kind = OutputNotice::Kind::NotSent;
            notice.lines = w->GiveUpAll();
            held = false;
            tell = true;
        } else if (written == 0 && !held) {
            held = true;
            heldSince = Clock::now();
            notice.kind = OutputNotice::Kind::Held;
            tell = true;
        } else if (written == 0 && Clock::now() - heldSince >= w->bound && !w->stopping) {
            // Held this long, the lines would reach a switch whose state has moved on.
            notice.kind = OutputNotice::Kind::NotSent;
            notice.lines = w->GiveUpAll();
            held = false;
            tell = true;
        }
        if (tell && w->notice) {
            lock.unlock();
            w->notice(notice);
            lock.lock();
        }
    }
    w->settled = w->nextId - 1;
    w->changed.notify_all();
}

void PortIo::StopWriter() {
    if (!writer_) return;
    {
        std::lock_guard lock(writer_->mutex);
        writer_->stopping = true;
        writer_->drainUntil = Clock::now() + std::chrono::milliseconds(kCloseDrainMs);
    }
    writer_->changed.notify_all();
    if (writerThread_.joinable()) writerThread_.join();
    writer_.reset();
}

int PortIo::Start(std::shared_ptr<CommPort> port, ReceiveSink* sink,
                  std::function<void(int)> lost) {
    if (reader_ || !port) return EBUSY;
    auto writer = std::make_shared<Writer>();
    writer->port = port;
    writer->notice = notice_;
    writer->bound = heldBound_;
    try {
        writerThread_ = std::thread(&PortIo::WriteThread, writer);
    } catch (const std::system_error& e) {
        return e.code().value() ? e.code().value() : EAGAIN;
    }
    writer_ = std::move(writer);
    auto reader = std::make_shared<Reader>();
    reader->port = std::move(port);
    reader->sink = sink;
    reader->lost = std::move(lost);
    reader->running.store(1);
    try {
        thread_ = std::thread(&PortIo::ReadThread, reader);
    } catch (const std::system_error& e) {
        StopWriter();
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
    // What was written last (the log-out) is sent, or given up, before the line drops.
    StopWriter();
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
    // Writes are made in short slices by the writer thread, which waits for held
    // output itself.
    t.writeTotalTimeoutMultiplier = 0;
    t.writeTotalTimeoutConstant = kWriteSliceMs;
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
    if (!writer_ || length < 0 || (length > 0 && !bytes)) return 0;
    if (length == 0) return 1;
    Writer& w = *writer_;
    std::unique_lock lock(w.mutex);
    if (w.stopping) return 0;
    const uint64_t id = w.nextId++;
    w.queue.push_back({std::string(bytes, static_cast<size_t>(length)), 0, id});
    w.changed.notify_all();
    w.changed.wait_for(lock, std::chrono::milliseconds(kWriteWaitMs), [&] { return w.settled >= id; });
    if (w.settled < id) return 1;  // waiting behind held output; the notice follows
    return id >= w.failedLow && id <= w.failedHigh ? 0 : 1;
}

void PortIo::ReadThread(std::shared_ptr<Reader> reader) {
    CommPort& port = *reader->port;
    // A flood comes in blocks as large as the tty has: fewer, larger deliveries.
    std::vector<char> block(kReadChunk + 1);
    char* buffer = block.data();
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
            size_t got = 0;
            port.ReadAvailable(buffer, kReadChunk, &got);  // errors show at the next wait
            const int n = static_cast<int>(got);
            if (n <= 0) break;
            // A tty gives at most its line buffer a read: a full one means more is on
            // its way (the next read waits for the tty's own push of it), anything
            // less that the next bytes are worth a wait.
            const bool more = n >= kTtyReadSize;
            buffer[n] = '\0';
            if (reader->sink) reader->sink->AppendReceived(buffer, n);
            if (!more) break;
        }
    }
    std::lock_guard<std::mutex> lock(reader->mutex);
    reader->finished = true;
    if (reader->abandoned) ReleasePort(*reader);
    reader->ended.notify_all();
}
