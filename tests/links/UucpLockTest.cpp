// Port locking through UUCP lock files, in a lock directory of the test's own: the
// life cycle of our lock, a live holder named, a stale lock taken over, and no lock
// directory at all.
#include "links/CommPort.h"
#include "links/UucpLock.h"
#include "tests/links/LinkTestSupport.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using linktest::PtyPair;

namespace {

class ScopedLockDir {
public:
    explicit ScopedLockDir(const std::string& dir) { ::setenv("PMX_LOCK_DIR", dir.c_str(), 1); }
    ~ScopedLockDir() { ::unsetenv("PMX_LOCK_DIR"); }
};

std::string PidText(int pid) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%10d\n", pid);
    return buf;
}

} // namespace

TEST(UucpLock, LockFileLifeCycle) {
    TempDir dir;
    ScopedLockDir env(dir.path());
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    const std::string lockName = UucpLock::LockFileName(pty.path());
    EXPECT_EQ(UucpLock::LockFileName("/dev/ttyUSB0"), "LCK..ttyUSB0");

    // Ours: created in the customary form, refuses a second opener (under any of
    // the port's names), removed on close.
    auto port = CreateCommPort();
    ASSERT_EQ(port->Open(pty.path()), 0);
    EXPECT_EQ(dir.read(lockName), PidText(::getpid()));
    ASSERT_EQ(::symlink(pty.path().c_str(), dir.file("by-id").c_str()), 0);
    auto second = CreateCommPort();
    EXPECT_EQ(second->Open(dir.file("by-id")), EBUSY);
    EXPECT_EQ(second->OpenRefusal().rfind("in use by PID " + std::to_string(::getpid()), 0), 0u);
    port->Close();
    EXPECT_FALSE(dir.exists(lockName));

    // A live holder that locks by file only is named; once it is gone its lock is stale.
    const pid_t holder = ::fork();
    if (holder == 0) {
        ::execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(holder, 0);
    ASSERT_TRUE(WaitUntil([&] {
        std::ifstream comm("/proc/" + std::to_string(holder) + "/comm");
        std::string name;
        return std::getline(comm, name) && name == "sleep";
    })) << "the child runs as \"sleep\"";
    dir.write(lockName, PidText(holder));
    EXPECT_EQ(port->Open(pty.path()), EBUSY);
    EXPECT_EQ(port->OpenRefusal(), "in use by PID " + std::to_string(holder) + " (sleep)");
    EXPECT_EQ(dir.read(lockName), PidText(holder));
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ASSERT_EQ(port->Open(pty.path()), 0);
    EXPECT_EQ(dir.read(lockName), PidText(::getpid()));
    port->Close();

    // Held at exit: removed by the exit handler.
    const pid_t child = ::fork();
    if (child == 0) {
        // Never destroyed, so only the exit handler can remove the file; held from a
        // static so the leak check does not count it.
        static UucpLock* held = new UucpLock;
        std::exit(held->Acquire(pty.path()) == UucpLock::Result::Acquired ? 0 : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(dir.exists(lockName));
}

TEST(UucpLock, WithoutALockDirectoryThePortStillOpens) {
    TempDir dir;
    ScopedLockDir env(dir.file("missing"));
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    auto port = CreateCommPort();
    EXPECT_EQ(port->Open(pty.path()), 0);
    auto second = CreateCommPort();
    EXPECT_EQ(second->Open(pty.path()), EBUSY);  // flock still keeps others out
    // Named from the flock, as another program holding it would be.
    EXPECT_EQ(second->OpenRefusal().rfind("in use by PID " + std::to_string(::getpid()) + " (", 0), 0u);
}

// A normal user meets root's stale lock in a sticky lock directory: it cannot be
// removed, so the port goes on without a lock of ours, and that is told.
TEST(UucpLock, AStaleLockThatCannotBeRemovedIsTold) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to leave a lock another user cannot remove";
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string sticky = dir.file("lock");
    ASSERT_EQ(::mkdir(sticky.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(sticky.c_str(), 01777), 0);
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const std::string lockPath = sticky + "/" + UucpLock::LockFileName("/dev/ttyPMX9");
    {
        FILE* f = std::fopen(lockPath.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(PidText(gone).c_str(), f);
        std::fclose(f);
    }
    ScopedLockDir env(sticky);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        UucpLock lock;
        const bool told = lock.Acquire("/dev/ttyPMX9") == UucpLock::Result::StaleKept && !lock.Held() &&
                          lock.StaleText() == "the stale lock file " + lockPath + " (PID " +
                                                  std::to_string(gone) + ", not running) cannot be removed";
        ::_exit(told ? 0 : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(UucpLock::ReadLockPid(lockPath), gone) << "left as it was";
}

TEST(UucpLock, OnlyAProvenStaleLockIsTakenOver) {
    // Four bytes are binary only when they are not a decimal text.
    EXPECT_EQ(UucpLock::ParseLockPid("123\n", 4), 123);
    EXPECT_EQ(UucpLock::ParseLockPid("4321", 4), 4321);
    const int binary = 12345;  // "90\0\0" here: not a text
    EXPECT_EQ(UucpLock::ParseLockPid(reinterpret_cast<const char*>(&binary), 4), 12345);
    EXPECT_EQ(UucpLock::ParseLockPid("      4321\n", 11), 4321);

    TempDir dir;
    ScopedLockDir env(dir.path());
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    const std::string lockName = UucpLock::LockFileName(pty.path());
    auto port = CreateCommPort();
    // Four-byte text locks of a live holder (PID 1 is always there) are refused.
    for (const std::string text : {"  1\n", "0001"}) {
        dir.write(lockName, text);
        EXPECT_EQ(port->Open(pty.path()), EBUSY) << text;
        EXPECT_EQ(port->OpenRefusal().rfind("in use by PID 1", 0), 0u) << port->OpenRefusal();
        EXPECT_EQ(dir.read(lockName), text);
    }
    // A lock that names no process is not proven stale: refused and named.
    dir.write(lockName, "");
    EXPECT_EQ(port->Open(pty.path()), EBUSY);
    EXPECT_NE(port->OpenRefusal().find(lockName), std::string::npos) << port->OpenRefusal();
    EXPECT_TRUE(dir.exists(lockName));
}
