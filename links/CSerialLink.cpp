// The serial port link: settings, open/close, writes on the GUI thread and the read
// thread that drains the port into the receive sink.
#include "links/CSerialLink.h"

#include "app/Profile.h"
#include "links/SerialTexts.h"
#include "terminal/ReceiveSink.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>

using namespace serialtext;

// What the read thread shares with the link. Owned jointly, so a thread that Close
// stopped waiting for can still finish and release the port itself.
struct CSerialLink::Reader {
    std::unique_ptr<CommPort> port;
    std::atomic<int> running{0};
    ReceiveSink* sink = nullptr;
    std::function<void(int)> lost;

    std::mutex mutex;
    std::condition_variable ended;
    bool finished = false;   // the thread is past its last use of the sink
    bool abandoned = false;  // Close returned without it; the thread releases the port
};

CSerialLink::CSerialLink() { LoadSettings(); }

void CSerialLink::LoadSettings() {
    Profile& p = Profile::get();
    portIndex_ = p.getInt(kSection, kKeyPort, -1);
    baudRate_ = p.getInt(kSection, kKeyBaud, -1);
    dataBits_ = p.getInt(kSection, kKeyDataBits, -1);
    stopBits_ = p.getInt(kSection, kKeyStopBits, -1);
    parity_ = p.getInt(kSection, kKeyParity, -1);
    flow_ = static_cast<unsigned char>(p.getInt(kSection, kKeyFlow, -1));
}

CSerialLink::~CSerialLink() { Close(); }

void CSerialLink::SetSettings(int portIndex, int baudRate, int dataBits, int stopBits, int parity,
                              unsigned char flow) {
    portIndex_ = portIndex;
    baudRate_ = baudRate;
    dataBits_ = dataBits;
    stopBits_ = stopBits;
    parity_ = parity;
    flow_ = flow;
}

void CSerialLink::GetSettings(int* portIndex, int* baudRate, int* dataBits, int* stopBits,
                              int* parity, unsigned char* flow) const {
    *portIndex = portIndex_;
    *baudRate = baudRate_;
    *dataBits = dataBits_;
    *stopBits = stopBits_;
    *parity = parity_;
    *flow = flow_;
}

bool CSerialLink::IsConfigured() { return Profile::get().getInt(kSection, kKeyPort, -1) != -1; }

std::string CSerialLink::DevicePath(int portIndex) {
    if (portIndex < 0 || portIndex > 3) return std::string();
    const std::string name = "COM" + std::to_string(portIndex + 1);
    return Profile::get().getString(kDevicesSection, name, "/dev/ttyS" + std::to_string(portIndex));
}

int CSerialLink::Connect(bool on) { return on ? Open() : Close(); }

int CSerialLink::Fail(SerialOpenError error, int err) {
    lastError_ = error;
    lastErrno_ = err;
    return 0;
}

int CSerialLink::Open() {
    lastRefusal_.clear();
    if (reader_) return Fail(SerialOpenError::AlreadyOpen, EBUSY);
    const std::string path = DevicePath(portIndex_);
    if (path.empty()) return Fail(SerialOpenError::PortUnavailable, ENOENT);

    auto reader = std::make_shared<Reader>();
    reader->port = CreateCommPort();
    CommPort& port = *reader->port;
    if (int err = port.Open(path)) return Fail(SerialOpenError::PortUnavailable, err);
    port.SetCommMask(EV_RXCHAR);
    // The driver's queue sizes are its own; a tty cannot be asked for 9600/2048.
    port.Purge();
    CommTimeouts t;
    t.readIntervalTimeout = MAXDWORD;
    t.readTotalTimeoutMultiplier = 10;
    t.readTotalTimeoutConstant = 1000;
    t.writeTotalTimeoutMultiplier = 10;
    t.writeTotalTimeoutConstant = 1000;
    port.SetTimeouts(t);

    reader_ = reader;
    const int applied = ApplySettings();
    if (!applied) {
        lastRefusal_ = port.RefusedReason();
        reader_.reset();
        port.Close();
        return Fail(SerialOpenError::SettingsRefused, EINVAL);
    }
    reader->running.store(applied);
    reader->sink = sink_;
    reader->lost = lost_;
    try {
        thread_ = std::thread(&CSerialLink::ReadThread, reader);
    } catch (const std::system_error& e) {
        reader->running.store(0);
        reader_.reset();
        port.Close();
        return Fail(SerialOpenError::ThreadFailed, e.code().value());
    }
    port.SetDtr(true);  // a pty has no DTR line: ENOTSUP is fine
    lastError_ = SerialOpenError::None;
    lastErrno_ = 0;
    return applied;
}

int CSerialLink::ApplySettings() {
    if (!reader_) return 0;
    CommPort& port = *reader_->port;
    DeviceControlBlock dcb;
    if (port.GetState(&dcb) != 0) return 0;
    dcb.baudRate = baudRate_;
    dcb.byteSize = dataBits_;
    dcb.parity = parity_;
    dcb.stopBits = stopBits_;
    dcb.fBinary = true;
    dcb.fParity = true;
    dcb.fOutxDsrFlow = (flow_ & kFlowDtrDsr) != 0;
    dcb.fDtrControl = dcb.fOutxDsrFlow ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    dcb.fOutxCtsFlow = (flow_ & kFlowRtsCts) != 0;
    dcb.fRtsControl = dcb.fOutxCtsFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutX = dcb.fInX = (flow_ & kFlowXonXoff) != 0;
    dcb.fErrorChar = false;
    dcb.fNull = false;
    dcb.xonChar = 0x11;
    dcb.xoffChar = 0x13;
    dcb.xonLim = 100;
    dcb.xoffLim = 100;
    return port.SetState(dcb) == 0 ? 1 : 0;
}

void CSerialLink::ReleasePort(CommPort& port) {
    // What was written last (the log-out) must leave before the line drops and the
    // queues are purged: discarding unsent output here would lose it. Output held
    // up by flow control is discarded after a while so that the close never hangs.
    const bool drained = port.Drain(kCloseDrainMs) == 0;
    port.SetDtr(false);
    if (drained)
        port.PurgeInput();
    else
        port.Purge();
    port.Close();
}

int CSerialLink::Close() {
    if (!reader_) return 1;
    std::shared_ptr<Reader> reader = std::move(reader_);
    reader->running.store(0);
    reader->port->SetCommMask(0);  // ends the thread's wait

    bool joinable = thread_.joinable() && thread_.get_id() != std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(reader->mutex);
    if (joinable) {
        const auto until = std::chrono::steady_clock::now() + closeWait_;
        const auto step = pump_ ? std::chrono::milliseconds(5) : closeWait_;
        while (!reader->finished && std::chrono::steady_clock::now() < until) {
            reader->ended.wait_for(lock, step, [&] { return reader->finished; });
            if (reader->finished || !pump_) continue;
            lock.unlock();
            pump_();
            lock.lock();
        }
    }
    if (reader->finished) {
        lock.unlock();
        thread_.join();
        ReleasePort(*reader->port);
    } else {
        // The thread is stuck in the sink (or this is the thread itself): it
        // releases the port when it gets out.
        reader->abandoned = true;
        lock.unlock();
        if (thread_.joinable()) thread_.detach();
    }
    return 1;
}

int CSerialLink::ReadWaiting(CommPort& port, char* buffer, int maximum) {
    size_t waiting = 0;
    if (port.BytesWaiting(&waiting) != 0 || maximum <= 0) return 0;
    size_t n = waiting < static_cast<size_t>(maximum) ? waiting : static_cast<size_t>(maximum);
    if (n == 0) return 0;
    size_t got = 0;
    port.Read(buffer, n, &got);  // errors are only cleared; the count read stands
    return static_cast<int>(got);
}

int CSerialLink::Read(char* buffer, int maximum) {
    if (!reader_) return 0;
    return ReadWaiting(*reader_->port, buffer, maximum);
}

int CSerialLink::Write(const char* bytes, int length) {
    if (!reader_ || length < 0 || (length > 0 && !bytes)) return 0;
    if (length == 0) return 1;
    size_t written = 0;
    int err = reader_->port->Write(bytes, static_cast<size_t>(length), &written);
    return err == 0 || err == ETIMEDOUT ? 1 : 0;
}

void CSerialLink::ReadThread(std::shared_ptr<Reader> reader) {
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
            // Nothing more will come from this port: sleep until Close changes the mask.
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
    if (reader->abandoned) ReleasePort(port);
    reader->ended.notify_all();
}
