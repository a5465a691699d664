// The serial port layer: the settings mapping as pure functions, and the port
// itself on a pty (exclusive open, waits, timed reads and writes, restore on close).
#include "links/CommPort.h"
#include "links/TermiosMapping.h"
#include "links/UucpLock.h"
#include "tests/links/LinkTestSupport.h"

#include <gtest/gtest.h>

#include <future>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using linktest::PtyPair;

namespace {

DeviceControlBlock Dcb(int baud, int bits, int parity, int stop) {
    DeviceControlBlock d;
    d.baudRate = baud;
    d.byteSize = bits;
    d.parity = parity;
    d.stopBits = stop;
    return d;
}

termios2 Encode(const DeviceControlBlock& d) {
    termios2 base{}, out{};
    std::string why;
    EXPECT_EQ(EncodeTermios(d, base, &out, &why), 0) << why;
    return out;
}

const int kListedBauds[] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200};
const unsigned kListedConstants[] = {B110,  B300,   B600,   B1200,  B2400,  B4800,
                                     B9600, BOTHER, B19200, B38400, B57600, B115200};

} // namespace

TEST(TermiosMapping, EveryListedBaudRateMapsAndDecodes) {
    for (const int& baud : kListedBauds) {
        SCOPED_TRACE(baud);
        termios2 t = Encode(Dcb(baud, 8, NOPARITY, ONESTOPBIT));
        EXPECT_EQ(t.c_ospeed, static_cast<speed_t>(baud));
        EXPECT_EQ(t.c_ispeed, static_cast<speed_t>(baud));
        EXPECT_EQ(t.c_cflag & CBAUD, kListedConstants[&baud - kListedBauds]);
        EXPECT_EQ(t.c_cflag & (CBAUD << IBSHIFT), 0u) << "input rate follows output";
        EXPECT_EQ(DecodeTermios(t).baudRate, baud);
    }
}

TEST(TermiosMapping, ParityCodes) {
    struct Case {
        int parity;
        tcflag_t set, clear;
    } cases[] = {
        {NOPARITY, 0, PARENB | PARODD | CMSPAR},
        {ODDPARITY, PARENB | PARODD, CMSPAR},
        {EVENPARITY, PARENB, PARODD | CMSPAR},
        {MARKPARITY, PARENB | PARODD | CMSPAR, 0},
        {SPACEPARITY, PARENB | CMSPAR, PARODD},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parity);
        termios2 t = Encode(Dcb(9600, 7, c.parity, ONESTOPBIT));
        EXPECT_EQ(t.c_cflag & c.set, c.set);
        EXPECT_EQ(t.c_cflag & c.clear, 0u);
        EXPECT_EQ(t.c_iflag & (INPCK | ISTRIP | PARMRK), 0u)
            << "a byte with a parity error must arrive unchanged, not as NUL";
        EXPECT_EQ(DecodeTermios(t).parity, c.parity);
    }
}

TEST(TermiosMapping, DataAndStopBits) {
    struct Case {
        int bits, stop;
        tcflag_t size;
        bool cstopb;
    } cases[] = {
        {5, ONESTOPBIT, CS5, false}, {5, ONE5STOPBITS, CS5, true}, {6, ONESTOPBIT, CS6, false},
        {7, TWOSTOPBITS, CS7, true}, {8, ONESTOPBIT, CS8, false}, {8, TWOSTOPBITS, CS8, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, stop code " << c.stop);
        termios2 t = Encode(Dcb(9600, c.bits, NOPARITY, c.stop));
        EXPECT_EQ(t.c_cflag & CSIZE, c.size);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.cstopb);
        DeviceControlBlock back = DecodeTermios(t);
        EXPECT_EQ(back.byteSize, c.bits);
        EXPECT_EQ(back.stopBits, c.stop);
    }
}

TEST(TermiosMapping, RawLineAndFlowControl) {
    DeviceControlBlock d = Dcb(19200, 8, NOPARITY, ONESTOPBIT);
    termios2 base{};
    base.c_iflag = ICRNL | IXANY | ISTRIP;
    base.c_oflag = OPOST | ONLCR;
    base.c_lflag = ECHO | ICANON | ISIG | IEXTEN;
    base.c_cflag = HUPCL | CRTSCTS;
    termios2 t{};
    std::string why;
    ASSERT_EQ(EncodeTermios(d, base, &t, &why), 0);
    EXPECT_EQ(t.c_lflag, 0u);
    EXPECT_EQ(t.c_oflag, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXANY | ISTRIP | IXON | IXOFF), 0u);
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u) << "flow control comes from the settings, not the old state";
    EXPECT_EQ(t.c_cc[VMIN], 1);

    d.fOutxCtsFlow = true;
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    t = Encode(d);
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);

    d = Dcb(19200, 8, NOPARITY, ONESTOPBIT);
    d.fOutX = d.fInX = true;
    t = Encode(d);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
}

TEST(TermiosMapping, SettingsTheLineCannotTakeAreRefused) {
    struct Case {
        const char* name;
        std::function<void(DeviceControlBlock&)> change;
    } cases[] = {
        {"baud -1", [](auto& d) { d.baudRate = -1; }},
        {"baud 0", [](auto& d) { d.baudRate = 0; }},
        {"data bits -1", [](auto& d) { d.byteSize = -1; }},
        {"data bits 4", [](auto& d) { d.byteSize = 4; }},
        {"data bits 9", [](auto& d) { d.byteSize = 9; }},
        {"parity -1", [](auto& d) { d.parity = -1; }},
        {"parity 5", [](auto& d) { d.parity = 5; }},
        {"stop -1", [](auto& d) { d.stopBits = -1; }},
        {"stop 3", [](auto& d) { d.stopBits = 3; }},
        {"1.5 stop with 8 bits", [](auto& d) { d.stopBits = ONE5STOPBITS; }},
        {"2 stop with 5 bits", [](auto& d) { d.byteSize = 5; d.stopBits = TWOSTOPBITS; }},
        {"DSR output flow", [](auto& d) { d.fOutxDsrFlow = true; }},
        {"DTR handshake", [](auto& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; }},
        {"CTS flow alone", [](auto& d) { d.fOutxCtsFlow = true; }},
        {"RTS handshake alone", [](auto& d) { d.fRtsControl = RTS_CONTROL_HANDSHAKE; }},
        {"RTS toggle", [](auto& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; }},
        {"NUL stripping", [](auto& d) { d.fNull = true; }},
        {"error char", [](auto& d) { d.fErrorChar = true; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceControlBlock d = Dcb(9600, 8, NOPARITY, ONESTOPBIT);
        c.change(d);
        termios2 base{}, out{};
        out.c_cflag = 0x5a5a;
        std::string why;
        EXPECT_EQ(EncodeTermios(d, base, &out, &why), EINVAL);
        EXPECT_FALSE(why.empty());
        EXPECT_EQ(out.c_cflag, 0x5a5au) << "nothing staged for a refused state";
    }
}

class CommPortOnPty : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.ok()); }
    PtyPair pty;
};

TEST_F(CommPortOnPty, OpenIsExclusiveUntilClosed) {
    auto a = CreateCommPort();
    auto b = CreateCommPort();
    ASSERT_EQ(a->Open(pty.path()), 0);
    EXPECT_EQ(b->Open(pty.path()), EBUSY);
    EXPECT_FALSE(b->IsOpen());
    a->Close();
    EXPECT_EQ(b->Open(pty.path()), 0) << "Close releases the port";
    b->Close();

    EXPECT_EQ(a->Open("/nonexistent/tty"), ENOENT);
    EXPECT_EQ(a->Open("/dev/null"), ENOTTY);
    EXPECT_FALSE(a->IsOpen());
}

// A program that locks the device with flock instead of a lock file is named
// from /proc/locks, as a lock file's owner is.
TEST_F(CommPortOnPty, AFlockHolderIsNamed) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::prctl(PR_SET_NAME, "picocom");
        const int fd = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY);
        const char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? '1' : '0';
        if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
        ::pause();
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(ok, '1');
    auto port = CreateCommPort();
    EXPECT_EQ(port->Open(pty.path()), EBUSY);
    EXPECT_EQ(port->OpenRefusal(), "in use by PID " + std::to_string(child) + " (picocom)");
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(UucpLock::FindFileLockHolder(pty.path()).pid, 0);
    EXPECT_EQ(port->Open(pty.path()), 0);
}

TEST_F(CommPortOnPty, EveryListedBaudRateIsAppliedAndReadBack) {
    auto port = CreateCommPort();
    ASSERT_EQ(port->Open(pty.path()), 0);
    for (int baud : kListedBauds) {
        SCOPED_TRACE(baud);
        ASSERT_EQ(port->SetState(Dcb(baud, 8, NOPARITY, ONESTOPBIT)), 0);
        DeviceControlBlock back;
        ASSERT_EQ(port->GetState(&back), 0);
        EXPECT_EQ(back.baudRate, baud);
    }
    // A refused state leaves the port as it was.
    DeviceControlBlock dsr = Dcb(1200, 8, NOPARITY, ONESTOPBIT);
    dsr.fOutxDsrFlow = true;
    EXPECT_EQ(port->SetState(dsr), EINVAL);
    EXPECT_FALSE(port->RefusedReason().empty());
    DeviceControlBlock back;
    ASSERT_EQ(port->GetState(&back), 0);
    EXPECT_EQ(back.baudRate, 115200);
}

TEST_F(CommPortOnPty, CloseRestoresTheSettingsFoundAtOpen) {
    int keep = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(keep, 0);
    termios2 before{};
    ASSERT_EQ(::ioctl(keep, TCGETS2, &before), 0);
    before.c_cflag = (before.c_cflag & ~CBAUD) | B2400;
    before.c_ispeed = before.c_ospeed = 2400;
    before.c_lflag |= ECHO | ICANON;
    ASSERT_EQ(::ioctl(keep, TCSETS2, &before), 0);

    auto port = CreateCommPort();
    ASSERT_EQ(port->Open(pty.path()), 0);
    ASSERT_EQ(port->SetState(Dcb(115200, 8, NOPARITY, ONESTOPBIT)), 0);
    termios2 during{};
    ASSERT_EQ(::ioctl(keep, TCGETS2, &during), 0);
    EXPECT_EQ(during.c_ospeed, 115200u);
    EXPECT_EQ(during.c_lflag & (ECHO | ICANON), 0u);
    port->Close();

    termios2 after{};
    ASSERT_EQ(::ioctl(keep, TCGETS2, &after), 0);
    EXPECT_EQ(after.c_ospeed, 2400u);
    EXPECT_EQ(after.c_lflag & (ECHO | ICANON), tcflag_t(ECHO | ICANON));
    ::close(keep);
}

TEST_F(CommPortOnPty, DtrOnAPtyIsNotSupportedButThePortWorks) {
    auto port = CreateCommPort();
    ASSERT_EQ(port->Open(pty.path()), 0);
    EXPECT_EQ(port->SetDtr(true), ENOTSUP);
    EXPECT_EQ(port->SetDtr(false), ENOTSUP);
    EXPECT_TRUE(port->IsOpen());
    size_t written = 0;
    EXPECT_EQ(port->Write("ok", 2, &written), 0);
    EXPECT_EQ(pty.ReadFor(300), "ok");
}

TEST_F(CommPortOnPty, WaitReportsDataEndsOnMaskChangeAndOnHangUp) {
    auto port = CreateCommPort();
    ASSERT_EQ(port->Open(pty.path()), 0);
    ASSERT_EQ(port->SetState(Dcb(9600, 8, NOPARITY, ONESTOPBIT)), 0);
    port->SetCommMask(EV_RXCHAR);
    uint32_t ev = 0;
    ASSERT_EQ(port->WaitCommEvent(&ev), 0);  // the mask change itself
    ASSERT_TRUE(pty.WriteAll("abc"));
    ASSERT_EQ(port->WaitCommEvent(&ev), 0);
    EXPECT_EQ(ev, EV_RXCHAR);
    ::usleep(50000);
    size_t waiting = 0;
    EXPECT_EQ(port->BytesWaiting(&waiting), 0);
    EXPECT_EQ(waiting, 3u);
    char buf[8];
    size_t got = 0;
    EXPECT_EQ(port->Read(buf, sizeof buf, &got), 0);
    EXPECT_EQ(std::string(buf, got), "abc");

    // A waiter with nothing arriving is released by clearing the mask.
    auto waiter = std::async(std::launch::async, [&] {
        uint32_t e = 99;
        int err = port->WaitCommEvent(&e);
        return std::make_pair(err, e);
    });
    ASSERT_EQ(waiter.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    port->SetCommMask(0);
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(waiter.get(), std::make_pair(0, 0u));

    port->SetCommMask(EV_RXCHAR);
    port->WaitCommEvent(&ev);  // consume the mask change
    pty.CloseMaster();
    auto gone = std::async(std::launch::async, [&] {
        uint32_t e = 0;
        return port->WaitCommEvent(&e);
    });
    ASSERT_EQ(gone.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_NE(gone.get(), 0) << "a hung-up line is an error, not an endless stream of events";
    port->Close();
}

TEST_F(CommPortOnPty, ReadAndWriteTimeOuts) {
    auto port = CreateCommPort();
    ASSERT_EQ(port->Open(pty.path()), 0);
    ASSERT_EQ(port->SetState(Dcb(9600, 8, NOPARITY, ONESTOPBIT)), 0);
    char buf[16];
    size_t got = 99;

    // Immediate: returns what is there at once.
    CommTimeouts t;
    ASSERT_EQ(port->SetTimeouts(t), 0);
    EXPECT_EQ(port->Read(buf, sizeof buf, &got), 0);
    EXPECT_EQ(got, 0u);

    // Total time-out: returns the bytes that came when it expires.
    t.readIntervalTimeout = 0;
    t.readTotalTimeoutConstant = 200;
    ASSERT_EQ(port->SetTimeouts(t), 0);
    ASSERT_TRUE(pty.WriteAll("xyz"));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port->Read(buf, 10, &got), 0);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(std::string(buf, got), "xyz");
    EXPECT_GE(took, std::chrono::milliseconds(150));
    EXPECT_LT(took, std::chrono::seconds(5));

    // Nobody reads the far end: the write ends at its time-out with part written.
    t.writeTotalTimeoutConstant = 200;
    ASSERT_EQ(port->SetTimeouts(t), 0);
    std::string big(4 << 20, 'w');
    size_t written = 0;
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(port->Write(big.data(), big.size(), &written), ETIMEDOUT);
    took = std::chrono::steady_clock::now() - start;
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, big.size());
    EXPECT_LT(took, std::chrono::seconds(5));

    // Purge drops what is waiting.
    ASSERT_TRUE(pty.WriteAll("stale"));
    ::usleep(50000);
    EXPECT_EQ(port->Purge(), 0);
    size_t waiting = 9;
    EXPECT_EQ(port->BytesWaiting(&waiting), 0);
    EXPECT_EQ(waiting, 0u);
}
