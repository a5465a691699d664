// Test helpers for the serial link: a pty pair, the switch simulator as a child
// process, a receive sink that records chunks, and process resource counts.
#pragma once

#include "terminal/ReceiveSink.h"
#include "tests/support/WaitUntil.h"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <poll.h>
#include <stdlib.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace linktest {

// A pty whose terminal end the code under test opens by path; the test plays the
// far end on the master.
class PtyPair {
public:
    PtyPair() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        char name[128];
        if (::ptsname_r(master_, name, sizeof name) == 0) path_ = name;
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 && !path_.empty(); }
    const std::string& path() const { return path_; }
    int master() const { return master_; }
    void CloseMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
    // Writes everything, waiting while the pty is full. False on error or time-out.
    bool WriteAll(const std::string& bytes, int timeoutMs = 10000) {
        size_t done = 0;
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (done < bytes.size()) {
            pollfd p{master_, POLLOUT, 0};
            if (::poll(&p, 1, 100) < 0) return false;
            if (p.revents & POLLOUT) {
                ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
                if (n > 0) done += static_cast<size_t>(n);
                else if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
            }
            if (std::chrono::steady_clock::now() > until) return false;
        }
        return true;
    }
    // Reads what arrives on the master within timeoutMs.
    std::string ReadFor(int timeoutMs) {
        std::string out;
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now()).count();
            if (left <= 0) return out;
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char buf[4096];
            ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0) out.append(buf, static_cast<size_t>(n));
            else ::usleep(1000);
        }
    }

private:
    int master_ = -1;
    std::string path_;
};

// The switch simulator binary, started with the given arguments.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args = {}) {
        // Everything the child needs is built before fork: only async-signal-safe
        // calls between fork and exec.
        std::string bin = PMXSIM_PATH;
        std::vector<char*> argv;
        argv.push_back(bin.data());
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::execv(bin.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        // The first line is the path of the terminal end.
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') path_ += c;
        ::close(out[0]);
    }
    ~SimProcess() { Stop(SIGKILL); }
    bool ok() const { return pid_ > 0 && !path_.empty(); }
    const std::string& path() const { return path_; }
    // Sends sig and reaps the process; its exit status, or -1.
    int Stop(int sig = SIGTERM) {
        if (pid_ <= 0) return -1;
        ::kill(pid_, sig);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
    std::string path_;
};

// Records every chunk: its bytes as counted and the text as a string reader sees it.
class RecordingSink : public ReceiveSink {
public:
    void AppendReceived(const char* text, int length) override {
        std::lock_guard<std::mutex> lock(mutex_);
        bytes_.append(text, static_cast<size_t>(length));
        texts_.emplace_back(text);
        lengths_.push_back(length);
        if (onChunk_) onChunk_(text, length);
        changed_.notify_all();
    }
    // Runs on the read thread for every chunk, before waiters are woken.
    void OnChunk(std::function<void(const char*, int)> fn) {
        std::lock_guard<std::mutex> lock(mutex_);
        onChunk_ = std::move(fn);
    }
    bool WaitFor(const std::function<bool(const std::string&)>& done, int timeoutMs = 10000) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return done(bytes_); });
    }
    bool WaitForText(const std::string& needle, int timeoutMs = 10000) {
        return WaitFor([&](const std::string& b) { return b.find(needle) != std::string::npos; }, timeoutMs);
    }
    std::string bytes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return bytes_;
    }
    std::vector<std::string> texts() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return texts_;
    }
    std::vector<int> lengths() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lengths_;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        bytes_.clear();
        texts_.clear();
        lengths_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string bytes_;
    std::vector<std::string> texts_;
    std::vector<int> lengths_;
    std::function<void(const char*, int)> onChunk_;
};

inline int CountEntries(const char* dir) {
    DIR* d = ::opendir(dir);
    if (!d) return -1;
    int n = 0;
    while (dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') ++n;
    ::closedir(d);
    return n - (std::strcmp(dir, "/proc/self/fd") == 0 ? 1 : 0);  // the DIR's own fd
}
inline int ThreadCount() {
#if defined(__SANITIZE_THREAD__)
    // TSan starts a thread of its own at the first thread creation: have it running
    // before anything is counted.
    static const bool warmed = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)warmed;
#endif
    return CountEntries("/proc/self/task");
}
inline int FdCount() { return CountEntries("/proc/self/fd"); }

} // namespace linktest
