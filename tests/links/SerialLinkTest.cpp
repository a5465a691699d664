// The serial link over real ptys and the switch simulator: settings from the
// profile, open failures, the read thread's delivery, a far end that goes away,
// and open/close cycles that must not leak threads or descriptors.
#include "platform/Profile.h"
#include "links/CSerialLink.h"
#include "links/PortIo.h"
#include "links/SerialDevices.h"
#include "links/SerialTexts.h"
#include "terminal/PromptMatcher.h"
#include "tests/links/LinkTestSupport.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <ctime>
#include <mutex>
#include <thread>

using linktest::PtyPair;
using linktest::RecordingSink;
using linktest::SimProcess;

namespace {

class SerialLinkTest : public ::testing::Test {
protected:
    void SetUp() override { Profile::install(&profile); }
    void TearDown() override { Profile::install(nullptr); }

    // COM1 at path, 9600 8N1 without flow control.
    void Configure(const std::string& path, int flow = 0) {
        profile.writeString(serialtext::kDevicesSection, "COM1", path);
        profile.writeInt(serialtext::kSection, serialtext::kKeyPort, 0);
        profile.writeInt(serialtext::kSection, serialtext::kKeyBaud, 9600);
        profile.writeInt(serialtext::kSection, serialtext::kKeyDataBits, 8);
        profile.writeInt(serialtext::kSection, serialtext::kKeyStopBits, 0);
        profile.writeInt(serialtext::kSection, serialtext::kKeyParity, 0);
        profile.writeInt(serialtext::kSection, serialtext::kKeyFlow, flow);
    }

    MemoryProfile profile;
};

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('!' + (i * 7 + i / 4096) % 90);
    return s;
}

} // namespace

TEST_F(SerialLinkTest, SettingsComeFromTheProfileWithNotConfiguredDefaults) {
    EXPECT_FALSE(CSerialLink::IsConfigured());
    {
        CSerialLink link;
        int port, baud, bits, stop, parity;
        unsigned char flow;
        link.GetSettings(&port, &baud, &bits, &stop, &parity, &flow);
        EXPECT_EQ(port, -1);
        EXPECT_EQ(baud, -1);
        EXPECT_EQ(bits, -1);
        EXPECT_EQ(stop, -1);
        EXPECT_EQ(parity, -1);
        EXPECT_EQ(flow, 0xFF);
    }
    // The port alone makes the link configured; the rest stay -1 and the open fails.
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    profile.writeString(serialtext::kDevicesSection, "COM3", pty.path());
    profile.writeInt(serialtext::kSection, serialtext::kKeyPort, 2);
    EXPECT_TRUE(CSerialLink::IsConfigured());
    CSerialLink link;
    EXPECT_EQ(link.Connect(true), 0);
    EXPECT_EQ(link.LastOpenError(), SerialOpenError::SettingsRefused);
    EXPECT_FALSE(link.IsOpen());
    auto other = CreateCommPort();
    EXPECT_EQ(other->Open(pty.path()), 0) << "a refused open releases the port";

    link.SetSettings(3, 57600, 7, 2, 2, 6);
    int port, baud, bits, stop, parity;
    unsigned char flow;
    link.GetSettings(&port, &baud, &bits, &stop, &parity, &flow);
    EXPECT_EQ(std::vector<int>({port, baud, bits, stop, parity, flow}),
              std::vector<int>({3, 57600, 7, 2, 2, 6}));
}

TEST_F(SerialLinkTest, PortNamesMapToDevices) {
    EXPECT_EQ(CSerialLink::DevicePath(0), "/dev/ttyS0");
    EXPECT_EQ(CSerialLink::DevicePath(3), "/dev/ttyS3");
    EXPECT_EQ(CSerialLink::DevicePath(-1), "");
    EXPECT_EQ(CSerialLink::DevicePath(4), "");
    profile.writeString(serialtext::kDevicesSection, "COM2", "/dev/ttyUSB0");
    EXPECT_EQ(CSerialLink::DevicePath(1), "/dev/ttyUSB0");
}

TEST_F(SerialLinkTest, OpenFailuresLeaveTheLinkClosed) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    Configure(pty.path());

    auto holder = CreateCommPort();
    ASSERT_EQ(holder->Open(pty.path()), 0);
    CSerialLink link;
    EXPECT_EQ(link.Open(), 0) << "port held by someone else";
    EXPECT_EQ(link.LastOpenError(), SerialOpenError::PortUnavailable);
    holder->Close();

    struct Case {
        unsigned char flow;
        bool opens;
    } cases[] = {{0, true}, {CSerialLink::kFlowRtsCts, true}, {CSerialLink::kFlowXonXoff, true},
                 {CSerialLink::kFlowRtsCts | CSerialLink::kFlowXonXoff, true},
                 {CSerialLink::kFlowDtrDsr, false}, {0xFF, false}};
    const int threads = linktest::ThreadCount();
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.flow));
        link.SetSettings(0, 9600, 8, 0, 0, c.flow);
        EXPECT_EQ(link.Open() != 0, c.opens);
        EXPECT_EQ(link.IsOpen(), c.opens);
        if (!c.opens) {
            EXPECT_EQ(link.LastOpenError(), SerialOpenError::SettingsRefused);
            EXPECT_FALSE(link.LastRefusal().empty());
            EXPECT_EQ(linktest::ThreadCount(), threads);
        }
        EXPECT_EQ(link.Close(), 1);
    }
    link.SetSettings(0, 14400, 5, 1, 3, 0);  // 14400, 5 data bits, 1.5 stop, mark parity
    EXPECT_NE(link.Open(), 0);
    link.Close();
    link.SetSettings(7, 9600, 8, 0, 0, 0);
    EXPECT_EQ(link.Open(), 0);
    EXPECT_EQ(link.LastOpenError(), SerialOpenError::PortUnavailable);
}

TEST_F(SerialLinkTest, ABurstArrivesCompleteInOrderInBoundedChunks) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    Configure(pty.path());
    RecordingSink sink;
    CSerialLink link;
    link.SetReceiver(&sink);
    ASSERT_NE(link.Open(), 0);
    const std::string burst = Pattern(100000);
    ASSERT_TRUE(pty.WriteAll(burst));
    ASSERT_TRUE(sink.WaitFor([&](const std::string& b) { return b.size() >= burst.size(); }));
    link.Close();
    EXPECT_TRUE(sink.bytes() == burst) << "received " << sink.bytes().size() << " bytes";
    auto lengths = sink.lengths();
    auto texts = sink.texts();
    for (size_t i = 0; i < lengths.size(); ++i) {
        EXPECT_GT(lengths[i], 0);
        EXPECT_LE(lengths[i], CSerialLink::kReadChunk);
        EXPECT_EQ(texts[i].size(), static_cast<size_t>(lengths[i])) << "each chunk is zero-terminated";
    }
    EXPECT_GT(lengths.size(), 1u);
}

// The real port, counting the read thread's waits that follow a read which came full.
class WaitCountingPort : public CommPort {
public:
    int Open(const std::string& path) override { return port_->Open(path); }
    bool IsOpen() const override { return port_->IsOpen(); }
    void Close() override { port_->Close(); }
    void SetCommMask(uint32_t mask) override { port_->SetCommMask(mask); }
    int WaitCommEvent(uint32_t* events) override { return WaitCommEventFor(events, -1); }
    int WaitCommEventFor(uint32_t* events, int timeoutMs) override {
        if (lastRead_ >= PortIo::kTtyReadSize) ++waitsAfterFullRead;
        return port_->WaitCommEventFor(events, timeoutMs);
    }
    void WaitMaskChange() override { port_->WaitMaskChange(); }
    int BytesWaiting(size_t* count) override { return port_->BytesWaiting(count); }
    int SetTimeouts(const CommTimeouts& t) override { return port_->SetTimeouts(t); }
    int Read(char* buffer, size_t maximum, size_t* got) override { return port_->Read(buffer, maximum, got); }
    int ReadAvailable(char* buffer, size_t maximum, size_t* got) override {
        const int err = port_->ReadAvailable(buffer, maximum, got);
        lastRead_ = *got;
        fullReads += *got >= PortIo::kTtyReadSize;
        return err;
    }
    int Write(const char* bytes, size_t length, size_t* written) override { return port_->Write(bytes, length, written); }
    int Purge() override { return port_->Purge(); }
    int SetDtr(bool raised) override { return port_->SetDtr(raised); }
    int GetState(DeviceControlBlock* dcb) override { return port_->GetState(dcb); }
    int SetState(const DeviceControlBlock& dcb) override { return port_->SetState(dcb); }
    std::string RefusedReason() const override { return port_->RefusedReason(); }

    std::atomic<int> waitsAfterFullRead{0}, fullReads{0};

private:
    std::unique_ptr<CommPort> port_ = CreateCommPort();
    size_t lastRead_ = 0;  // the read thread's
};

TEST_F(SerialLinkTest, AFullReadIsFollowedByAnotherReadNotAWait) {
    // A flood keeps the tty's line buffer full: each full read is followed at once by
    // the next, the wait (a poll and a count) only once the tty has run short.
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    auto port = std::make_shared<WaitCountingPort>();
    ASSERT_EQ(port->Open(pty.path()), 0);
    DeviceControlBlock dcb;
    ASSERT_EQ(port->GetState(&dcb), 0);
    ASSERT_EQ(port->SetState(dcb), 0);  // raw
    PortIo::PreparePort(*port);
    // As much as the pty takes unread (about 20 KiB), written before anyone reads.
    std::string burst = Pattern(32 * 1024);
    ::fcntl(pty.master(), F_SETFL, ::fcntl(pty.master(), F_GETFL) | O_NONBLOCK);
    size_t written = 0;
    for (ssize_t n; written < burst.size() && (n = ::write(pty.master(), burst.data() + written, 1024)) > 0;)
        written += static_cast<size_t>(n);
    burst.resize(written);
    ASSERT_GE(written, 3u * PortIo::kTtyReadSize);
    ASSERT_TRUE(WaitUntil([&] {
        size_t n = 0;
        return port->BytesWaiting(&n) == 0 && n >= size_t(PortIo::kTtyReadSize);
    }));
    RecordingSink sink;
    PortIo io;
    ASSERT_EQ(io.Start(port, &sink, {}), 0);
    ASSERT_TRUE(sink.WaitFor([&](const std::string& b) { return b.size() >= burst.size(); }));
    io.Stop(std::chrono::milliseconds(3000), true);
    EXPECT_TRUE(sink.bytes() == burst);
    EXPECT_GE(port->fullReads.load(), 1);
    EXPECT_EQ(port->waitsAfterFullRead.load(), 0);
}

TEST_F(SerialLinkTest, AReceivedNulEndsItsChunksText) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    Configure(pty.path());
    RecordingSink sink;
    CSerialLink link;
    link.SetReceiver(&sink);
    ASSERT_NE(link.Open(), 0);
    const std::string sent("abc\0def", 7);
    ASSERT_TRUE(pty.WriteAll(sent));
    ASSERT_TRUE(sink.WaitFor([&](const std::string& b) { return b.size() >= 7; }));
    link.Close();
    EXPECT_EQ(sink.bytes(), sent) << "the bytes after the NUL are still delivered";
    std::string joined;
    auto lengths = sink.lengths();
    auto texts = sink.texts();
    size_t at = 0;
    for (size_t i = 0; i < lengths.size(); ++i) {
        const std::string chunk = sent.substr(at, static_cast<size_t>(lengths[i]));
        EXPECT_EQ(texts[i], std::string(chunk.c_str()));
        at += static_cast<size_t>(lengths[i]);
    }
}

TEST_F(SerialLinkTest, WritesReachTheFarEndAndFailWhenItIsGone) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    Configure(pty.path());
    CSerialLink link;
    EXPECT_EQ(link.Write("x", 1), 0) << "not open";
    std::atomic<bool> lost{false};
    link.SetPortLostHandler([&](int) { lost = true; });
    ASSERT_NE(link.Open(), 0);
    EXPECT_EQ(link.Write("t d\r", 4), 1);
    EXPECT_EQ(link.Write("", 0), 1);
    EXPECT_EQ(pty.ReadFor(300), "t d\r");
    pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return lost.load(); }));
    EXPECT_EQ(link.Write("lost\r", 5), 0) << "a failed write is not reported as success";
    EXPECT_EQ(link.Close(), 1);
}

// The far end holds the line with XOFF: writes return at once, wait in order and
// go out on XON; held past the bound they are given up and named, never dropped
// silently.
TEST_F(SerialLinkTest, OutputHeldByXoffWaitsInOrderOrIsGivenUpPastItsBound) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    Configure(pty.path(), CSerialLink::kFlowXonXoff);
    CSerialLink link;
    std::mutex mutex;
    std::vector<OutputNotice> notices;
    auto count = [&](OutputNotice::Kind kind) {
        std::lock_guard lock(mutex);
        return std::count_if(notices.begin(), notices.end(), [&](auto& n) { return n.kind == kind; });
    };
    link.SetOutputNotice([&](const OutputNotice& n) {
        std::lock_guard lock(mutex);
        notices.push_back(n);
    });
    link.SetHeldBound(std::chrono::milliseconds(1500));
    // A mark after each XOFF: once it is read, the line discipline has applied the XOFF.
    RecordingSink sink;
    link.SetReceiver(&sink);
    ASSERT_NE(link.Open(), 0);

    ASSERT_TRUE(pty.WriteAll("\x13" "1"));
    ASSERT_TRUE(sink.WaitForText("1"));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(link.Write("first", 5), 1);
    EXPECT_EQ(link.Write("\r", 1), 1);
    EXPECT_EQ(link.Write("second\r", 7), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(400))
        << "the caller is never held by flow control";
    EXPECT_EQ(pty.ReadFor(700), "");
    EXPECT_EQ(count(OutputNotice::Kind::Held), 1);
    ASSERT_TRUE(pty.WriteAll("\x11"));
    EXPECT_EQ(pty.ReadFor(500), "first\rsecond\r");
    EXPECT_EQ(count(OutputNotice::Kind::Released), 1);

    ASSERT_TRUE(pty.WriteAll("\x13" "2"));
    ASSERT_TRUE(sink.WaitForText("2"));
    EXPECT_EQ(link.Write("third\r", 6), 1);
    ASSERT_TRUE(WaitUntil([&] { return count(OutputNotice::Kind::NotSent) != 0; }));
    ASSERT_EQ(count(OutputNotice::Kind::NotSent), 1);
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(notices.back().lines, std::vector<std::string>{"third\r"});
    }
    ASSERT_TRUE(pty.WriteAll("\x11"));
    EXPECT_EQ(link.Write("fourth\r", 7), 1);
    EXPECT_EQ(pty.ReadFor(300), "fourth\r") << "a line given up does not go out later";
    EXPECT_EQ(link.Close(), 1);
}

TEST_F(SerialLinkTest, BytesWrittenJustBeforeCloseStillReachTheFarEnd) {
    // The log-out goes out right before the port closes; the close must not
    // discard it. Repeated, since losing it is a race with the driver.
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    Configure(pty.path());
    CSerialLink link;
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(link.Connect(true), 1);
        ASSERT_EQ(link.Write("x\r", 2), 1);
        link.Connect(false);
        std::string got;
        for (int wait = 0; wait < 40 && got.size() < 2; ++wait) got += pty.ReadFor(5);
        ASSERT_EQ(got, "x\r") << "round " << i;
    }
}

TEST_F(SerialLinkTest, AFarEndThatGoesAwayIsReportedOnceWithoutSpinning) {
    SimProcess sim;
    ASSERT_TRUE(sim.ok());
    Configure(sim.path());
    RecordingSink sink;
    std::atomic<int> lostCount{0};
    CSerialLink link;
    link.SetReceiver(&sink);
    link.SetPortLostHandler([&](int) { ++lostCount; });
    const int threads = linktest::ThreadCount();
    ASSERT_NE(link.Open(), 0);
    ASSERT_EQ(link.Write("\r", 1), 1);
    ASSERT_TRUE(sink.WaitForText("PASSWORD:"));

    sim.Stop(SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return lostCount.load() != 0; }));
    EXPECT_EQ(lostCount.load(), 1);

    const double cpuBefore = ProcessCpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    EXPECT_LT(cpu, 0.25 * wall) << "the read thread burns CPU on a dead port";
    EXPECT_EQ(lostCount.load(), 1);
    EXPECT_TRUE(link.IsOpen()) << "stays connected until the user disconnects";

    const auto closeStart = std::chrono::steady_clock::now();
    EXPECT_EQ(link.Close(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - closeStart, link.CloseWait());
    EXPECT_EQ(linktest::ThreadCount(), threads);
}

TEST_F(SerialLinkTest, OpenCloseCyclesDuringFloodsLeaveNoThreadsOrDescriptors) {
    SimProcess sim;
    ASSERT_TRUE(sim.ok());
    Configure(sim.path());
    const int threads = linktest::ThreadCount();
    const int fds = linktest::FdCount();
    RecordingSink sink;
    CSerialLink link;
    link.SetReceiver(&sink);
    ASSERT_NE(link.Open(), 0);
    ASSERT_EQ(link.Write("\r", 1), 1);
    ASSERT_TRUE(sink.WaitForText("PASSWORD:"));
    ASSERT_EQ(link.Write("velmod\r", 7), 1);
    ASSERT_TRUE(sink.WaitForText("maint>"));
    link.Close();
    for (int cycle = 0; cycle < 50; ++cycle) {
        SCOPED_TRACE(cycle);
        sink.clear();
        ASSERT_NE(link.Open(), 0);
        ASSERT_EQ(linktest::ThreadCount(), threads + 2);  // the read and the write thread
        if (cycle % 5 == 0) {
            ASSERT_EQ(link.Write("flood 2000000\r", 14), 1);
            EXPECT_TRUE(sink.WaitFor([](const std::string& b) { return b.size() > 20000; }));
        }
        EXPECT_EQ(link.Close(), 1);
    }
    EXPECT_EQ(linktest::ThreadCount(), threads);
    EXPECT_EQ(linktest::FdCount(), fds);
}

TEST_F(SerialLinkTest, CloseReturnsWhileTheSinkIsStuck) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    Configure(pty.path());
    RecordingSink sink;
    std::mutex gate;
    std::unique_lock<std::mutex> held(gate);
    std::atomic<bool> inSink{false};
    std::atomic<bool> leftSink{false};
    sink.OnChunk([&](const char*, int) {
        inSink = true;
        { std::lock_guard<std::mutex> wait(gate); }  // a GUI that does not answer
        leftSink = true;
    });
    {
        CSerialLink link;
        link.SetReceiver(&sink);
        link.SetCloseWait(std::chrono::milliseconds(200));
        ASSERT_NE(link.Open(), 0);
        ASSERT_TRUE(pty.WriteAll("hello"));
        ASSERT_TRUE(WaitUntil([&] { return inSink.load(); }));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(link.Close(), 1);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        EXPECT_FALSE(link.IsOpen());
    }
    auto other = CreateCommPort();
    EXPECT_EQ(other->Open(pty.path()), EBUSY) << "the stuck thread still owns the port";
    held.unlock();  // the sink returns; the thread ends and releases the port
    int err = EBUSY;
    EXPECT_TRUE(WaitUntil([&] { return (err = other->Open(pty.path())) != EBUSY; }));
    EXPECT_EQ(err, 0);
    ASSERT_TRUE(WaitUntil([&] { return leftSink.load(); }));
    sink.bytes();  // the thread is out of the sink before it goes away
}

TEST_F(SerialLinkTest, LoginDialogueWithTheSimulator) {
    SimProcess sim({"--idle", "1.5"});
    ASSERT_TRUE(sim.ok());
    Configure(sim.path());
    RecordingSink sink;
    CSerialLink link;
    std::atomic<int> asks{0};
    std::atomic<bool> answer{true};
    PromptMatcher::Callbacks cb;
    PromptMatcher matcher;
    cb.askPassword = [&] {
        ++asks;
        if (answer) {
            const std::string typed = PromptMatcher::TrimPassword("  velmod ");
            matcher.ApplyPassword(typed);
            link.Write((typed + "\r").c_str(), static_cast<int>(typed.size() + 1));
        }
    };
    cb.anyLinkConnected = [] { return true; };
    cb.sendReply = [&](const char* bytes, int length) { link.Write(bytes, length); };
    matcher.SetCallbacks(cb);
    sink.OnChunk([&](const char* text, int) { matcher.HandleBlock(text); });
    link.SetReceiver(&sink);

    ASSERT_NE(link.Open(), 0);
    ASSERT_EQ(link.Write("\r", 1), 1);
    ASSERT_TRUE(sink.WaitForText("maint>"));
    EXPECT_EQ(asks.load(), 1);
    EXPECT_FALSE(matcher.AwaitingLogin());
    EXPECT_EQ(matcher.Access(), AccessMode::Maintenance);

    sink.clear();
    ASSERT_EQ(link.Write("t d\r", 4), 1);
    ASSERT_TRUE(sink.WaitForText("maint>"));
    EXPECT_NE(sink.bytes().find("SYSTEM DATE"), std::string::npos);
    sink.clear();
    ASSERT_EQ(link.Write("nonsense\r", 9), 1);
    ASSERT_TRUE(sink.WaitForText("maint>"));
    EXPECT_NE(sink.bytes().find("Unknown command"), std::string::npos);

    // Log out; this time nobody answers, the switch cancels the idle prompt and
    // the cancel reply brings the prompt back.
    answer = false;
    sink.clear();
    ASSERT_EQ(link.Write("x\r", 2), 1);
    ASSERT_TRUE(sink.WaitForText("Canceled!"));
    EXPECT_TRUE(matcher.AwaitingLogin());
    ASSERT_TRUE(sink.WaitFor([&](const std::string& b) {
        size_t c = b.find("Canceled!");
        return c != std::string::npos && b.find("PASSWORD:", c) != std::string::npos;
    })) << "the cancel reply should have fetched a new password prompt";
    EXPECT_GE(asks.load(), 3);
    link.Close();
}

TEST(SerialDevices, PresentDevicesByIdFirstThenKernelNamesInNaturalOrder) {
    TempDir dev;
    std::filesystem::create_directories(dev.path() + "/serial/by-id");
    for (const char* name : {"ttyS10", "ttyS2", "ttyUSB0", "ttyACM1", "ttyS", "tty1", "null",
                             "serial/by-id/usb-FTDI_A50-if00-port0"})
        dev.write(name, "");
    EXPECT_EQ(ListSerialDevices(dev.path()),
              (std::vector<std::string>{dev.path() + "/serial/by-id/usb-FTDI_A50-if00-port0",
                                        dev.path() + "/ttyUSB0", dev.path() + "/ttyACM1",
                                        dev.path() + "/ttyS2", dev.path() + "/ttyS10"}));
    EXPECT_TRUE(ListSerialDevices(dev.path() + "/missing").empty());
}
