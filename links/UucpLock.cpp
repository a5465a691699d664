// UUCP lock files: created whole through a temporary file and link(), so that no
// other program ever reads a half-written PID.
#include "links/UucpLock.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

std::mutex& RegistryMutex() {
    static std::mutex m;
    return m;
}

std::set<std::string>& Registry() {
    static std::set<std::string> held;
    return held;
}

void Register(const std::string& path) {
    static std::once_flag once;
    std::call_once(once, [] {
        // Built before the exit handler is registered, so they outlive it.
        RegistryMutex();
        Registry();
        std::atexit(UucpLock::ReleaseAll);
    });
    std::lock_guard<std::mutex> lock(RegistryMutex());
    Registry().insert(path);
}

void Unregister(const std::string& path) {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    Registry().erase(path);
}

bool WritableDir(const std::string& dir) {
    struct stat st{};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

bool ProcessAlive(int pid) {
    if (pid <= 0) return false;
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

std::string ProcessName(int pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/comm";
    FILE* f = std::fopen(path.c_str(), "re");
    if (!f) return std::string();
    char buf[64] = {};
    const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    std::string name(buf, n);
    while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) name.pop_back();
    return name;
}

bool WriteAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

} // namespace

std::string UucpLock::LockDirectory() {
    if (const char* env = std::getenv("PMX_LOCK_DIR"); env && *env)
        return WritableDir(env) ? std::string(env) : std::string();
    for (const char* dir : {"/var/lock", "/run/lock"})
        if (WritableDir(dir)) return dir;
    return std::string();
}

std::string UucpLock::LockFileName(const std::string& devicePath) {
    std::string name = devicePath;
    if (name.rfind("/dev/", 0) == 0) name = name.substr(5);
    else if (size_t slash = name.rfind('/'); slash != std::string::npos) name = name.substr(slash + 1);
    for (char& c : name)
        if (c == '/') c = '_';
    return "LCK.." + name;
}

int UucpLock::ParseLockPid(const char* bytes, size_t length) {
    if (!bytes || length == 0) return 0;
    // Four bytes are the old binary form only when they are not a decimal text:
    // "123\n" or "4321" from a program that writes its PID without padding is text.
    // A binary PID (below 2^22) always has a NUL byte, so it is never such a text.
    bool text = length != 4;
    if (!text) {
        bool digit = false;
        text = true;
        for (size_t i = 0; i < 4; ++i) {
            const char c = bytes[i];
            if (c >= '0' && c <= '9') digit = true;
            else if (c != ' ' && c != '\n') text = false;
        }
        text = text && digit;
    }
    if (!text) {
        int pid = 0;
        std::memcpy(&pid, bytes, 4);
        return pid > 0 ? pid : 0;
    }
    size_t i = 0;
    while (i < length && bytes[i] == ' ') ++i;
    long long pid = 0;
    size_t digits = 0;
    for (; i < length && bytes[i] >= '0' && bytes[i] <= '9' && digits < 12; ++i, ++digits)
        pid = pid * 10 + (bytes[i] - '0');
    if (digits == 0 || pid <= 0 || pid > 0x7FFFFFFF) return 0;
    return static_cast<int>(pid);
}

int UucpLock::ReadLockPid(const std::string& lockPath) {
    int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return 0;
    char buf[32] = {};
    ssize_t n;
    do {
        n = ::read(fd, buf, sizeof buf - 1);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    return n > 0 ? ParseLockPid(buf, static_cast<size_t>(n)) : 0;
}

UucpLock::Result UucpLock::Acquire(const std::string& devicePath) {
    Release();
    holderPid_ = 0;
    holderName_.clear();
    staleText_.clear();
    heldPath_.clear();
    const std::string dir = LockDirectory();
    if (dir.empty()) return Result::NoLockDir;
    // Other programs name the port by its real node.
    std::string device = devicePath;
    if (char* real = ::realpath(devicePath.c_str(), nullptr)) {
        device = real;
        std::free(real);
    }
    const std::string lockPath = dir + "/" + LockFileName(device);
    const int self = static_cast<int>(::getpid());

    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", self);
    const std::string temp = dir + "/LTMP." + std::to_string(self);
    for (int attempt = 0; attempt < 3; ++attempt) {
        ::unlink(temp.c_str());
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) return Result::NoLockDir;
        const bool written = WriteAll(fd, text, 11);
        ::fchmod(fd, 0644);  // readable by every program despite our umask
        ::close(fd);
        if (!written) {
            ::unlink(temp.c_str());
            return Result::NoLockDir;
        }
        const int linked = ::link(temp.c_str(), lockPath.c_str());
        const int linkErr = errno;
        ::unlink(temp.c_str());
        if (linked == 0) {
            lockPath_ = lockPath;
            Register(lockPath_);
            return Result::Acquired;
        }
        if (linkErr != EEXIST) return Result::NoLockDir;
        const int pid = ReadLockPid(lockPath);
        if (pid == 0 && attempt == 0) {
            // Perhaps a program that writes its lock in two steps: give it a moment.
            ::usleep(200000);
            continue;
        }
        if (pid == 0 || ProcessAlive(pid)) {
            // A lock whose holder cannot be read is not proven stale: the port stays
            // refused, and the text names the file for the user to look at.
            holderPid_ = pid;
            holderName_ = pid ? ProcessName(pid) : std::string();
            heldPath_ = lockPath;
            return Result::Busy;
        }
        // Stale: its process is gone.
        if (::unlink(lockPath.c_str()) != 0 && (errno == EPERM || errno == EACCES)) {
            staleText_ = "the stale lock file " + lockPath;
            if (pid > 0) staleText_ += " (PID " + std::to_string(pid) + ", not running)";
            staleText_ += " cannot be removed";
            return Result::StaleKept;
        }
    }
    return Result::NoLockDir;
}

void UucpLock::Release() {
    if (lockPath_.empty()) return;
    if (ReadLockPid(lockPath_) == static_cast<int>(::getpid())) ::unlink(lockPath_.c_str());
    Unregister(lockPath_);
    lockPath_.clear();
}

std::string UucpLock::HolderText() const {
    if (holderPid_ == 0 && !heldPath_.empty()) return "in use: the lock file " + heldPath_ + " names no process";
    return HolderText(holderPid_, holderName_);
}

std::string UucpLock::HolderText(int pid, const std::string& name) {
    if (pid <= 0) return "in use";
    std::string text = "in use by PID " + std::to_string(pid);
    if (!name.empty()) text += " (" + name + ")";
    return text;
}

UucpLock::FileLockHolder UucpLock::FindFileLockHolder(const std::string& path, const std::string& procLocks) {
    FileLockHolder holder;
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return holder;
    FILE* f = std::fopen(procLocks.c_str(), "re");
    if (!f) return holder;
    // "1: FLOCK  ADVISORY  WRITE 1234 00:05:567 0 EOF"; waiters carry "->" after the
    // number. The file is named by its file system's device (hex) and inode.
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
        char type[16], mode[16], access[16];
        int pid = 0;
        unsigned maj = 0, min = 0;
        unsigned long long ino = 0;
        if (std::strstr(line, "->")) continue;
        if (std::sscanf(line, "%*d: %15s %15s %15s %d %x:%x:%llu", type, mode, access, &pid, &maj, &min, &ino) != 7)
            continue;
        if (pid > 0 && maj == major(st.st_dev) && min == minor(st.st_dev) && ino == st.st_ino) {
            holder.pid = pid;
            holder.name = ProcessName(pid);
            break;
        }
    }
    std::fclose(f);
    return holder;
}

void UucpLock::ReleaseAll() {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    for (const std::string& path : Registry())
        if (ReadLockPid(path) == ::getpid()) ::unlink(path.c_str());
    Registry().clear();
}
