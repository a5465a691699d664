// POSIX implementation of the phone book's file operations.
#include "phonebook/PhoneFileOps.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class PosixFileOps : public PhoneFileOps {
public:
    bool exists(const std::string& path) override {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0;
    }

    bool readAll(const std::string& path, std::string& out) override {
        out.clear();
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        char buf[8192];
        bool ok = true;
        for (;;) {
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) { out.append(buf, static_cast<std::size_t>(n)); continue; }
            if (n < 0 && errno == EINTR) continue;
            ok = (n == 0);
            break;
        }
        ::close(fd);
        if (!ok) out.clear();  // half a phone book would be saved back as the whole one
        return ok;
    }

    bool createEmpty(const std::string& path) override {
        // O_EXCL: a file that appeared meanwhile is never truncated.
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) return false;
        return ::close(fd) == 0;
    }

    int openNew(const std::string& path) override {
        return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    }

    long write(int handle, const char* data, std::size_t size) override {
        for (;;) {
            ssize_t n = ::write(handle, data, size);
            if (n < 0 && errno == EINTR) continue;
            return static_cast<long>(n);
        }
    }

    bool sync(int handle) override { return ::fsync(handle) == 0; }
    bool close(int handle) override { return ::close(handle) == 0; }

    bool rename(const std::string& from, const std::string& to) override {
        return std::rename(from.c_str(), to.c_str()) == 0;
    }

    bool remove(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

    bool syncDir(const std::string& dir) override {
        int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return false;
        bool ok = ::fsync(fd) == 0;
        ::close(fd);
        return ok;
    }
};

} // namespace

int PhoneFileOps::lockDir(const std::string& dir) {
    // The directory itself is locked: the book's file is replaced by rename, so a lock
    // on it would not outlive a save, and no lock file is left in the start directory.
    int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void PhoneFileOps::unlockDir(int handle) {
    if (handle >= 0) ::close(handle);  // releases the lock
}

PhoneFileOps& PhoneFileOps::system() {
    static PosixFileOps ops;
    return ops;
}
