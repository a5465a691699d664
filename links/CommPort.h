// The serial port layer the links drive: an exclusive port with a received-character
// wait, bytes-waiting, timed reads and writes, purge, DTR and the device control block.
// The read thread calls WaitCommEvent/BytesWaiting/Read; the GUI thread calls the rest.
// Every call returns its error (0 or an errno value) instead of leaving it in errno.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Event bits of the comm mask.
inline constexpr uint32_t EV_RXCHAR = 0x0001;

// Line settings in the classic device-control-block coding.
inline constexpr int ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2;
inline constexpr int NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4;
inline constexpr int DTR_CONTROL_DISABLE = 0, DTR_CONTROL_ENABLE = 1, DTR_CONTROL_HANDSHAKE = 2;
inline constexpr int RTS_CONTROL_DISABLE = 0, RTS_CONTROL_ENABLE = 1, RTS_CONTROL_HANDSHAKE = 2,
                     RTS_CONTROL_TOGGLE = 3;

struct DeviceControlBlock {
    int baudRate = 9600;
    int byteSize = 8;
    int parity = NOPARITY;
    int stopBits = ONESTOPBIT;
    bool fBinary = true;
    bool fParity = false;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    int fDtrControl = DTR_CONTROL_ENABLE;
    int fRtsControl = RTS_CONTROL_ENABLE;
    bool fOutX = false;
    bool fInX = false;
    bool fErrorChar = false;
    bool fNull = false;
    unsigned char xonChar = 0x11;
    unsigned char xoffChar = 0x13;
    int xonLim = 0;   // kept for the caller; the tty driver uses its own thresholds
    int xoffLim = 0;
};

inline constexpr uint32_t MAXDWORD = 0xFFFFFFFFu;

// Read: interval MAXDWORD with both totals 0 returns at once with what is waiting;
// otherwise a read ends after multiplier*n + constant ms (0: no total limit).
// An interval other than MAXDWORD also ends a read after that long without a byte.
// Write: ends after multiplier*n + constant ms (0: no limit) with what was written.
struct CommTimeouts {
    uint32_t readIntervalTimeout = MAXDWORD;
    uint32_t readTotalTimeoutMultiplier = 0;
    uint32_t readTotalTimeoutConstant = 0;
    uint32_t writeTotalTimeoutMultiplier = 0;
    uint32_t writeTotalTimeoutConstant = 0;
};

class CommPort {
public:
    virtual ~CommPort() = default;

    // Exclusive: a port another process (or another CommPort) holds fails with EBUSY.
    virtual int Open(const std::string& path) = 0;
    virtual bool IsOpen() const = 0;
    // After Open failed with EBUSY: who holds the port when that is known
    // ("in use by PID 1234 (minicom)"), else empty.
    virtual std::string OpenRefusal() const { return std::string(); }
    // After a successful Open: what the user should know about it (the port is
    // open without a lock file of ours, and why), else empty.
    virtual std::string OpenNote() const { return std::string(); }
    // Restores the settings found at Open and releases the port. Not while a
    // thread may still be inside WaitCommEvent or Read.
    virtual void Close() = 0;

    // Changing the mask ends a pending WaitCommEvent (with events 0 when the new
    // mask lacks the event). Safe from any thread.
    virtual void SetCommMask(uint32_t mask) = 0;
    // Blocks until an event in the mask (events gets it) or a mask change (events 0).
    // A port that went away (hang-up, device error, end of file) gives EIO/ENXIO.
    virtual int WaitCommEvent(uint32_t* events) = 0;
    // The same wait bounded to timeoutMs (-1: no bound); ETIMEDOUT when it ran out.
    virtual int WaitCommEventFor(uint32_t* events, int timeoutMs) = 0;
    // Blocks until the next mask change only; for a reader whose port has gone.
    virtual void WaitMaskChange() = 0;

    virtual int BytesWaiting(size_t* count) = 0;
    virtual int SetTimeouts(const CommTimeouts& timeouts) = 0;
    // got/written hold the byte count even when an error is returned.
    virtual int Read(char* buffer, size_t maximum, size_t* got) = 0;
    // Whatever has been received, up to maximum, without waiting: got is 0 when
    // nothing is there. One call where a count and a read would take two.
    virtual int ReadAvailable(char* buffer, size_t maximum, size_t* got) {
        *got = 0;
        size_t waiting = 0;
        if (int err = BytesWaiting(&waiting)) return err;
        if (waiting == 0 || maximum == 0) return 0;
        return Read(buffer, waiting < maximum ? waiting : maximum, got);
    }
    virtual int Write(const char* bytes, size_t length, size_t* written) = 0;
    // Discards both queues.
    virtual int Purge() = 0;
    // Discards what has been received and not read; written bytes still go out.
    virtual int PurgeInput() { return Purge(); }
    // Waits up to timeoutMs for written bytes to leave; ETIMEDOUT when some are
    // still queued (flow control holding them, or a slow line).
    virtual int Drain(int timeoutMs) {
        (void)timeoutMs;
        return 0;
    }

    // ENOTSUP when the device has no modem lines (a pty): not a port failure.
    virtual int SetDtr(bool raised) = 0;
    // The carrier-detect line (DCD); ENOTSUP when the device has no modem lines.
    virtual int GetCarrier(bool* present) {
        (void)present;
        return ENOTSUP;
    }

    virtual int GetState(DeviceControlBlock* dcb) = 0;
    // Applied in one call; EINVAL (with RefusedReason) for what the line cannot do.
    virtual int SetState(const DeviceControlBlock& dcb) = 0;
    virtual std::string RefusedReason() const = 0;
};

std::unique_ptr<CommPort> CreateCommPort();
