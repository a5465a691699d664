// The serial port link: its stored settings, the open port and the read thread that
// hands received text to a ReceiveSink. Open/Close/Write/settings are called on the
// GUI thread; Read and the sink call run on the read thread.
//
// Delivering text without deadlock: Close waits for the read thread, so the sink's
// AppendReceived must never wait for the GUI thread (queue repaints with PostToGui).
// The one blocking request a reader may make (the password dialog) must be a request
// the GUI can still serve after Close; Close waits at most CloseWait() for the thread
// and otherwise leaves it to end alone (the port is released when it does), so a
// GUI slot reached after a disconnect must check that the link is still open.
#pragma once

#include "links/CommPort.h"
#include "links/PortIo.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class ReceiveSink;

// Why the last Open failed, for the frame and for tests.
enum class SerialOpenError { None, AlreadyOpen, PortUnavailable, SettingsRefused, ThreadFailed };

class CSerialLink {
public:
    static constexpr unsigned char kFlowDtrDsr = 1;
    static constexpr unsigned char kFlowRtsCts = 2;
    static constexpr unsigned char kFlowXonXoff = 4;
    static constexpr int kReadChunk = PortIo::kReadChunk;
    static constexpr int kCloseDrainMs = PortIo::kCloseDrainMs;

    // Reads the six settings from the "SerialPort" section (-1 when missing).
    CSerialLink();
    // Reads them again (the frame does before each connect, so the settings in use
    // are always the stored ones).
    void LoadSettings();
    // Closes a port still open (without telling the user).
    virtual ~CSerialLink();
    CSerialLink(const CSerialLink&) = delete;
    CSerialLink& operator=(const CSerialLink&) = delete;

    void SetSettings(int portIndex, int baudRate, int dataBits, int stopBits, int parity,
                     unsigned char flow);
    void GetSettings(int* portIndex, int* baudRate, int* dataBits, int* stopBits, int* parity,
                     unsigned char* flow) const;

    // Configured exactly when "SerialPort"/"CommPort" is stored.
    static bool IsConfigured();
    // COM1..COM4 (index 0..3) to a device: "Devices"/"COMn", default /dev/ttyS<index>.
    // Empty for an index out of range.
    static std::string DevicePath(int portIndex);

    // Where received text goes; set before Open. It must outlive the link.
    void SetReceiver(ReceiveSink* sink) { sink_ = sink; }
    // Called once per connection, on the read thread, when the port stops working
    // while open (hang-up, device gone); the link stays open until Close.
    void SetPortLostHandler(std::function<void(int error)> handler) { lost_ = std::move(handler); }
    void SetCloseWait(std::chrono::milliseconds wait) { closeWait_ = wait; }
    std::chrono::milliseconds CloseWait() const { return closeWait_; }
    // Runs every few milliseconds while Close waits for the read thread: the GUI's
    // way to answer a blocking request the thread made just before it was told to end.
    void SetCloseWaitPump(std::function<void()> pump) { pump_ = std::move(pump); }

    // on: Open, off: Close. Nonzero is success.
    int Connect(bool on);
    int Open();
    // Stops the read thread, lowers DTR, purges and releases the port. Always 1.
    // The caller tells the user (serialtext::kDisconnectedText).
    int Close();
    int ApplySettings();
    // 1 when written, or waiting behind output the switch holds by flow control (the
    // output notice tells what becomes of it); 0 on a port error. Never waits long.
    int Write(const char* bytes, int length);
    // Held, released and given-up output, on the writer thread; set before Open.
    void SetOutputNotice(std::function<void(const OutputNotice&)> notice) { io_.SetOutputNotice(std::move(notice)); }
    void SetHeldBound(std::chrono::milliseconds bound) { io_.SetHeldBound(bound); }
    // Bytes placed in buffer, 0 when none are waiting; read thread only.
    int Read(char* buffer, int maximum);

    bool IsOpen() const { return io_.IsRunning(); }
    SerialOpenError LastOpenError() const { return lastError_; }
    int LastOpenErrno() const { return lastErrno_; }
    // What the driver refused (SettingsRefused), or who holds the port
    // (PortUnavailable: "in use by PID 1234 (minicom)"); empty when unknown.
    std::string LastRefusal() const { return lastRefusal_; }
    // After a successful connect: what the port's opening needs to tell (no lock file).
    std::string LastOpenNote() const { return lastNote_; }

private:
    int Fail(SerialOpenError error, int err);

    int portIndex_ = -1;
    int baudRate_ = -1;
    int dataBits_ = -1;
    int stopBits_ = -1;
    int parity_ = -1;
    unsigned char flow_ = 0xFF;

    ReceiveSink* sink_ = nullptr;
    std::function<void(int)> lost_;
    std::chrono::milliseconds closeWait_{3000};
    std::function<void()> pump_;

    CommPort* opening_ = nullptr;  // the port being set up inside Open
    PortIo io_;                    // the open port and its read thread
    SerialOpenError lastError_ = SerialOpenError::None;
    int lastErrno_ = 0;
    std::string lastRefusal_;
    std::string lastNote_;
};
