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
    EXPECT_EQ(second->OpenRefusal(), "");
}
