// UUCP lock files, the way serial programs on Linux agree on who holds a port:
// "LCK..<device>" in the lock directory holds the owner's PID as ten ASCII digits
// and a newline. A lock whose process is proven gone is stale and is taken over;
// one that names no process is left alone.
#pragma once

#include <cstddef>
#include <string>

class UucpLock {
public:
    // StaleKept: a stale lock could not be removed (another user's file in a sticky
    // lock directory); the caller goes on without a lock file (StaleText tells).
    enum class Result { Acquired, Busy, NoLockDir, StaleKept };

    UucpLock() = default;
    ~UucpLock() { Release(); }
    UucpLock(const UucpLock&) = delete;
    UucpLock& operator=(const UucpLock&) = delete;

    // Takes the lock for the device (symbolic links such as /dev/serial/by-id are
    // followed, so every name of a port shares one lock). Busy: a live process
    // holds it (HolderPid/HolderName tell which). NoLockDir: no writable lock
    // directory; the caller goes on without a lock file.
    Result Acquire(const std::string& devicePath);
    // Removes our lock file (only while it still names us).
    void Release();

    bool Held() const { return !lockPath_.empty(); }
    const std::string& LockPath() const { return lockPath_; }
    int HolderPid() const { return holderPid_; }
    const std::string& HolderName() const { return holderName_; }
    // "in use by PID 1234 (minicom)", for a Busy result; a lock file naming no
    // process is named instead.
    std::string HolderText() const;
    // For StaleKept: "the stale lock file /run/lock/LCK..ttyS0 (PID 99, not running)
    // cannot be removed".
    const std::string& StaleText() const { return staleText_; }

    // The process holding a flock or POSIX lock on path as /proc/locks lists it
    // (programs that lock the device rather than write a lock file); pid 0 if none.
    struct FileLockHolder {
        int pid = 0;
        std::string name;
    };
    static FileLockHolder FindFileLockHolder(const std::string& path,
                                             const std::string& procLocks = "/proc/locks");
    // "in use by PID 1234 (picocom)", or "in use" when the name is unknown.
    static std::string HolderText(int pid, const std::string& name);

    // PMX_LOCK_DIR when set, else /var/lock or /run/lock, whichever is a writable
    // directory first; empty when neither is.
    static std::string LockDirectory();
    // "LCK..ttyUSB0" for /dev/ttyUSB0, "LCK..pts_3" for /dev/pts/3.
    static std::string LockFileName(const std::string& devicePath);
    // The PID a lock file holds: ASCII (with blanks) or the old 4-byte binary form; 0 if none.
    static int ReadLockPid(const std::string& lockPath);
    // The same for the file's bytes: 4 bytes are binary unless they are a decimal text.
    static int ParseLockPid(const char* bytes, size_t length);
    // Removes every lock this process still holds (registered with atexit).
    static void ReleaseAll();

private:
    std::string lockPath_;
    int holderPid_ = 0;
    std::string holderName_;
    std::string staleText_;
    std::string heldPath_;
};
