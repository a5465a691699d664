// The serial port layer over a tty: exclusive open, termios2 settings, a
// received-character wait on poll plus an eventfd for mask changes.
// WaitCommEvent/BytesWaiting/Read run on the read thread; the rest on the GUI thread.
#include "links/CommPort.h"
#include "links/TermiosMapping.h"
#include "links/UucpLock.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int IoctlRetry(int fd, unsigned long request, void* arg) {
    for (;;) {
        if (::ioctl(fd, request, arg) == 0) return 0;
        if (errno != EINTR) return errno;
    }
}

int PollRetry(pollfd* fds, nfds_t n, int timeoutMs) {
    for (;;) {
        int r = ::poll(fds, n, timeoutMs);
        if (r >= 0 || errno != EINTR) return r;
    }
}

// Milliseconds left until deadline for poll (-1 when there is none).
int MsLeft(bool hasDeadline, Clock::time_point deadline) {
    if (!hasDeadline) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 0;
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

class PosixCommPort final : public CommPort {
public:
    ~PosixCommPort() override { Close(); }

    int Open(const std::string& path) override {
        if (fd_ >= 0) return EBUSY;
        refusal_.clear();
        note_.clear();
        // The lock file comes first: opening a tty can already disturb its owner.
        // Without a writable lock directory flock and TIOCEXCL still keep us apart.
        const UucpLock::Result locked = lock_.Acquire(path);
        if (locked == UucpLock::Result::Busy) {
            refusal_ = lock_.HolderText();
            return EBUSY;
        }
        int err = OpenLocked(path);
        if (err) {
            lock_.Release();
            // A program that locks the device itself rather than write a lock file.
            if (err == EBUSY) {
                const UucpLock::FileLockHolder holder = UucpLock::FindFileLockHolder(path);
                if (holder.pid > 0) refusal_ = UucpLock::HolderText(holder.pid, holder.name);
            }
        } else if (locked == UucpLock::Result::StaleKept) {
            note_ = "open without a lock file: " + lock_.StaleText();
        }
        return err;
    }

    std::string OpenRefusal() const override { return refusal_; }
    std::string OpenNote() const override { return note_; }

    int OpenLocked(const std::string& path) {
        int fd;
        do {
            fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) return errno;
        if (!::isatty(fd)) {
            ::close(fd);
            return ENOTTY;
        }
        // flock also keeps out a second open from a privileged process, which
        // TIOCEXCL lets through.
        int r;
        do {
            r = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (r != 0 && errno == EINTR);
        if (r != 0) {
            int err = errno == EWOULDBLOCK ? EBUSY : errno;
            ::close(fd);
            return err;
        }
        if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
            int err = errno;
            ::close(fd);
            return err;
        }
        if (int err = IoctlRetry(fd, TCGETS2, &original_)) {
            ::ioctl(fd, TIOCNXCL);
            ::close(fd);
            return err;
        }
        int efd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (efd < 0) {
            int err = errno;
            ::ioctl(fd, TIOCNXCL);
            ::close(fd);
            return err;
        }
        fd_ = fd;
        wakeFd_ = efd;
        mask_.store(0);
        hasPushback_ = false;
        return 0;
    }

    bool IsOpen() const override { return fd_ >= 0; }

    void Close() override {
        if (fd_ < 0) return;
        IoctlRetry(fd_, TCSETS2, &original_);
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);  // releases the flock
        ::close(wakeFd_);
        fd_ = -1;
        wakeFd_ = -1;
        lock_.Release();
    }

    void SetCommMask(uint32_t mask) override {
        mask_.store(mask);
        if (wakeFd_ >= 0) {
            uint64_t one = 1;
            ssize_t r;
            do {
                r = ::write(wakeFd_, &one, sizeof one);
            } while (r < 0 && errno == EINTR);
        }
    }

    int WaitCommEvent(uint32_t* events) override { return WaitCommEventFor(events, -1); }

    int WaitCommEventFor(uint32_t* events, int timeoutMs) override {
        *events = 0;
        if (fd_ < 0) return EBADF;
        const bool bounded = timeoutMs >= 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(bounded ? timeoutMs : 0);
        for (;;) {
            const bool wantRx = (mask_.load() & EV_RXCHAR) != 0;
            if (wantRx && hasPushback_) {
                *events = EV_RXCHAR;
                return 0;
            }
            pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
            int r = PollRetry(fds, wantRx ? 2 : 1, MsLeft(bounded, deadline));
            if (r < 0) return errno;
            if (r == 0) return ETIMEDOUT;
            if (fds[0].revents & POLLIN) {
                DrainWake();
                return 0;
            }
            if (!wantRx) continue;
            if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) return EIO;
            if (fds[1].revents & POLLIN) {
                size_t n = 0;
                if (int err = BytesWaiting(&n)) return err;
                if (n > 0) {
                    *events = EV_RXCHAR;
                    return 0;
                }
                // Readable with nothing queued: end of file, an error, or a race
                // with the reader. Probe one byte so the loop can never spin.
                char c;
                ssize_t got = ::read(fd_, &c, 1);
                if (got == 1) {
                    pushback_ = c;
                    hasPushback_ = true;
                    *events = EV_RXCHAR;
                    return 0;
                }
                if (got == 0) return EIO;
                if (errno != EAGAIN && errno != EINTR) return errno;
            }
        }
    }

    void WaitMaskChange() override {
        if (wakeFd_ < 0) return;
        pollfd fd{wakeFd_, POLLIN, 0};
        if (PollRetry(&fd, 1, -1) > 0) DrainWake();
    }

    int BytesWaiting(size_t* count) override {
        *count = 0;
        if (fd_ < 0) return EBADF;
        int n = 0;
        if (int err = IoctlRetry(fd_, FIONREAD, &n)) return err;
        *count = static_cast<size_t>(n > 0 ? n : 0) + (hasPushback_ ? 1 : 0);
        return 0;
    }

    int SetTimeouts(const CommTimeouts& timeouts) override {
        timeouts_ = timeouts;
        return 0;
    }

    int ReadAvailable(char* buffer, size_t maximum, size_t* got) override {
        *got = 0;
        if (fd_ < 0) return EBADF;
        if (maximum == 0) return 0;
        if (hasPushback_) {
            buffer[0] = pushback_;
            hasPushback_ = false;
            *got = 1;
        }
        // One read: reading on at once finds the tty all but empty and costs the
        // kernel a buffer push per few bytes; the caller waits for more instead.
        for (;;) {
            const ssize_t r = ::read(fd_, buffer + *got, maximum - *got);
            if (r > 0) {
                *got += static_cast<size_t>(r);
                return 0;
            }
            if (r == 0) return *got ? 0 : EIO;
            if (errno == EINTR) continue;
            return errno == EAGAIN || *got ? 0 : errno;
        }
    }

    int Read(char* buffer, size_t maximum, size_t* got) override {
        *got = 0;
        if (fd_ < 0) return EBADF;
        if (maximum == 0) return 0;
        if (hasPushback_) {
            buffer[0] = pushback_;
            hasPushback_ = false;
            *got = 1;
        }
        const CommTimeouts t = timeouts_;
        const bool immediate = t.readIntervalTimeout == MAXDWORD &&
                               t.readTotalTimeoutMultiplier == 0 && t.readTotalTimeoutConstant == 0;
        const uint64_t totalMs = uint64_t(t.readTotalTimeoutMultiplier) * maximum + t.readTotalTimeoutConstant;
        const bool hasTotal = totalMs > 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(totalMs);
        const bool hasInterval = t.readIntervalTimeout != MAXDWORD && t.readIntervalTimeout != 0;
        while (*got < maximum) {
            ssize_t r = ::read(fd_, buffer + *got, maximum - *got);
            if (r > 0) {
                *got += static_cast<size_t>(r);
                continue;
            }
            if (r == 0) return *got ? 0 : EIO;
            if (errno == EINTR) continue;
            if (errno != EAGAIN) return errno;
            if (immediate) return 0;
            int wait = MsLeft(hasTotal, deadline);
            if (hasInterval && *got > 0) {
                int interval = static_cast<int>(t.readIntervalTimeout > INT_MAX ? INT_MAX : t.readIntervalTimeout);
                if (wait < 0 || interval < wait) wait = interval;
            }
            if (wait == 0) return 0;
            // A mask change (Close) aborts the read, as a purge would.
            pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
            int p = PollRetry(fds, 2, wait);
            if (p < 0) return errno;
            if (p == 0) return 0;
            if (fds[1].revents & POLLIN) return 0;
            if (fds[0].revents & (POLLERR | POLLNVAL)) return EIO;
        }
        return 0;
    }

    int Write(const char* bytes, size_t length, size_t* written) override {
        *written = 0;
        if (fd_ < 0) return EBADF;
        const CommTimeouts t = timeouts_;
        const uint64_t totalMs = uint64_t(t.writeTotalTimeoutMultiplier) * length + t.writeTotalTimeoutConstant;
        const bool hasTotal = totalMs > 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(totalMs);
        while (*written < length) {
            ssize_t r = ::write(fd_, bytes + *written, length - *written);
            if (r > 0) {
                *written += static_cast<size_t>(r);
                continue;
            }
            if (r < 0 && errno == EINTR) continue;
            if (r < 0 && errno != EAGAIN) return errno;
            int wait = MsLeft(hasTotal, deadline);
            if (wait == 0) return ETIMEDOUT;
            pollfd fd{fd_, POLLOUT, 0};
            int p = PollRetry(&fd, 1, wait);
            if (p < 0) return errno;
            if (p == 0) return ETIMEDOUT;
            if (fd.revents & (POLLERR | POLLHUP | POLLNVAL)) return EIO;
        }
        return 0;
    }

    int Purge() override {
        if (fd_ < 0) return EBADF;
        hasPushback_ = false;
        return IoctlRetry(fd_, TCFLSH, reinterpret_cast<void*>(static_cast<intptr_t>(TCIOFLUSH)));
    }

    int PurgeInput() override {
        if (fd_ < 0) return EBADF;
        hasPushback_ = false;
        return IoctlRetry(fd_, TCFLSH, reinterpret_cast<void*>(static_cast<intptr_t>(TCIFLUSH)));
    }

    int Drain(int timeoutMs) override {
        if (fd_ < 0) return EBADF;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int queued = 0;
            if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) return errno;
            if (queued <= 0) return 0;
            if (Clock::now() >= deadline) return ETIMEDOUT;
            ::usleep(2000);
        }
    }

    int SetDtr(bool raised) override {
        if (fd_ < 0) return EBADF;
        int bits = TIOCM_DTR;
        int err = IoctlRetry(fd_, raised ? TIOCMBIS : TIOCMBIC, &bits);
        if (err == ENOTTY || err == EINVAL) return ENOTSUP;
        return err;
    }

    int GetCarrier(bool* present) override {
        if (fd_ < 0) return EBADF;
        int bits = 0;
        int err = IoctlRetry(fd_, TIOCMGET, &bits);
        if (err == ENOTTY || err == EINVAL) return ENOTSUP;
        if (err == 0 && present) *present = (bits & TIOCM_CAR) != 0;
        return err;
    }

    int GetState(DeviceControlBlock* dcb) override {
        if (fd_ < 0) return EBADF;
        termios2 t{};
        if (int err = IoctlRetry(fd_, TCGETS2, &t)) return err;
        *dcb = DecodeTermios(t);
        return 0;
    }

    int SetState(const DeviceControlBlock& dcb) override {
        if (fd_ < 0) return EBADF;
        termios2 current{};
        if (int err = IoctlRetry(fd_, TCGETS2, &current)) return err;
        termios2 next{};
        if (int err = EncodeTermios(dcb, current, &next, &refused_)) return err;
        return IoctlRetry(fd_, TCSETS2, &next);
    }

    std::string RefusedReason() const override { return refused_; }

private:
    void DrainWake() {
        uint64_t value;
        ssize_t r;
        do {
            r = ::read(wakeFd_, &value, sizeof value);
        } while (r < 0 && errno == EINTR);
    }

    int fd_ = -1;
    int wakeFd_ = -1;
    std::atomic<uint32_t> mask_{0};
    termios2 original_{};
    CommTimeouts timeouts_;
    std::string refused_;
    std::string refusal_;
    std::string note_;
    UucpLock lock_;
    // The byte a wait had to read to tell data from end of file; the read thread's.
    char pushback_ = 0;
    bool hasPushback_ = false;
};

} // namespace

std::unique_ptr<CommPort> CreateCommPort() { return std::make_unique<PosixCommPort>(); }
