// LAN Connect, Disconnect and Configure in the main frame against real loopback peers:
// connection state, failures, the peer's close, clean-up, bulk data both ways and the
// Telnet negotiation through a real connection.
#include "app/CMainFrame.h"
#include "session/LanControl.h"
#include "platform/DialogRunner.h"
#include "platform/Profile.h"
#include "links/CLanConfigDlg.h"
#include "links/CLanSocket.h"
#include "links/CSocketThread.h"
#include "res/resource.h"
#include "terminal/ReceiveSink.h"
#include "tests/links/LoopbackPeer.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TempDir.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <dirent.h>

#include <mutex>


namespace {
// LAN data reaches the sink on the worker thread; the test reads it on the GUI thread.
class Sink : public ReceiveSink {
public:
    void AppendReceived(const char* text, int length) override {
        std::lock_guard lock(mutex_);
        text_.append(text, static_cast<size_t>(length));
    }
    std::string text() const {
        std::lock_guard lock(mutex_);
        return text_;
    }
    size_t size() const {
        std::lock_guard lock(mutex_);
        return text_.size();
    }

private:
    mutable std::mutex mutex_;
    std::string text_;
};

int CountEntries(const char* dir) {
    int n = 0;
    if (DIR* d = opendir(dir)) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

void StoreDestination(const std::string& d) { Profile::get().writeString("Server", "History %c", d); }
std::string StoredDestination() { return Profile::get().getString("Server", "History %c", "<none>"); }

// One frame with its sink, settings and scripted boxes.
struct Fixture {
    TestStartDir start;
    MemoryProfile profile;
    ScriptedMessages boxes;
    Sink sink;
    CMainFrame frame;
    Fixture() {
        Profile::install(&profile);
        frame.OnCreate();
        frame.session().setReceiveSink(&sink);
        frame.session().lan().setDisconnectWaitMs(0);
        frame.session().setConnectWakeupWaitMs(0);
    }
    ~Fixture() { Profile::install(nullptr); }
    bool enabled(int id) {
        frame.session().updateState();
        return frame.action(id)->isEnabled();
    }
    void connectTo(const std::string& destination) {
        StoreDestination(destination);
        QVERIFY(enabled(ID_LAN_CONNECT));
        frame.action(ID_LAN_CONNECT)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!frame.session().lan().connecting(), CLanSocket::ConnectTimeoutMs() + 5000);
    }
    void disconnect() {
        QVERIFY(enabled(ID_LAN_DISCONNECT));
        boxes.answer(IDYES);
        frame.action(ID_LAN_DISCONNECT)->trigger();
    }
};

std::string WithoutOneCr(std::string s) {
    const size_t cr = s.find('\r');
    if (cr != std::string::npos) s.erase(cr, 1);
    return s;
}

const std::string kTelnetReplies = std::string(
    "\xFF\xFB\x18"                          // WILL TERMINAL-TYPE
    "\xFF\xFA\x18\x00VT100\xFF\xF0"         // its value
    "\xFF\xFD\x01"                          // DO ECHO
    "\xFF\xFE\x03", 3 + 11 + 3 + 3);        // DONT SUPPRESS-GO-AHEAD
const std::string kNegotiation = std::string(
    "\xFF\xFD\x18"
    "\xFF\xFA\x18\x01\xFF\xF0"
    "\xFF\xFB\x01"
    "\xFF\xFB\x03"
    "login:", 3 + 6 + 3 + 3 + 6);
} // namespace

class LanLinkTest : public QObject {
    Q_OBJECT
private slots:
    void connectsToAddressAndName_data() {
        QTest::addColumn<QString>("host");
        QTest::newRow("dotted") << "127.0.0.1";
        QTest::newRow("name") << "localhost";
    }
    void connectsToAddressAndName() {
        QFETCH(QString, host);
        LoopbackPeer peer([](LoopbackPeer& p, int fd) {
            SendAll(fd, "hello\r\n");
            p.Collect(fd);
        });
        Fixture f;
        f.connectTo(peer.destination(host.toLatin1().constData()));
        QVERIFY(f.frame.session().isLinkConnected(LinkKind::Lan));
        QCOMPARE(f.boxes.count(), size_t(0));  // no box reports success
        QVERIFY(!f.enabled(ID_LAN_CONNECT));
        QVERIFY(f.enabled(ID_LAN_DISCONNECT));
        QVERIFY(!f.enabled(ID_LAN_CONFIGURE));
        QTRY_COMPARE(f.sink.text(), std::string("hello\r\n"));

        // Outgoing text has 255 doubled; the password line gets its carriage return.
        QCOMPARE(f.frame.session().SendToLink("ab\xFF" "c", 4, true), 1);
        QVERIFY(!f.frame.session().responseTimerActive());
        f.frame.session().SendLine("pw\xFF");
        QVERIFY(peer.WaitReceived(11, 5000));
        // The connect's own carriage return comes first: this sink stands in for the
        // document, so the frame does not see the greeting.
        QCOMPARE(peer.received(), std::string("\rab\xFF\xFF" "cpw\xFF\xFF\r"));

        // Another link's flag takes Disconnect away too.
        f.frame.session().setLinkConnected(LinkKind::Isdn, true);
        QVERIFY(!f.enabled(ID_LAN_DISCONNECT));
        f.frame.session().setLinkConnected(LinkKind::Isdn, false);

        f.disconnect();
        QVERIFY(!f.frame.session().isLinkConnected(LinkKind::Lan));
        QVERIFY(f.frame.session().lan().thread() == nullptr);
        QVERIFY(f.enabled(ID_LAN_CONNECT));
        QTRY_VERIFY(peer.peerClosed());
    }

    void failedConnectsAreReportedWithinTheBound_data() {
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QString>("status");
        unsigned short port = 0;
        const int fd = ListenLoopback(1, &port);
        ::close(fd);
        QTest::newRow("refused") << QStringLiteral("127.0.0.1:%1").arg(port)
                                 << "WinSock error 10061 : Connection refused";
        QTest::newRow("unknown host") << "no-such-host.invalid" << "WinSock error 1100";
    }
    void failedConnectsAreReportedWithinTheBound() {
        QFETCH(QString, destination);
        QFETCH(QString, status);
        Fixture f;
        const int tasks = CountEntries("/proc/self/task");
        QElapsedTimer t;
        t.start();
        f.connectTo(destination.toStdString());
        QVERIFY(t.elapsed() < CLanSocket::ConnectTimeoutMs() + 5000);
        QVERIFY(f.boxes.sawText("Failed to establish TCP/IP connection..."));
        QCOMPARE(f.boxes.count(), size_t(1));
        QVERIFY(!f.frame.session().isLinkConnected(LinkKind::Lan));
        QVERIFY(f.frame.session().lan().thread() == nullptr);  // the worker is not left behind
        QTRY_COMPARE(CountEntries("/proc/self/task"), tasks);  // the thread is reaped
        QVERIFY(f.enabled(ID_LAN_CONNECT));
        // The code is shown without a box.
        QVERIFY2(f.frame.statusBar()->currentMessage().startsWith(status),
                 qPrintable(f.frame.statusBar()->currentMessage()));
    }

    // A peer that never answers (its accept queue is full): Connect returns at once, the
    // window keeps running, and Disconnect gives the attempt up without a failure box.
    void connectRunsInTheBackgroundAndDisconnectCancelsIt() {
        unsigned short port = 0;
        const int lfd = ListenLoopback(0, &port);
        const int filler = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a);
        Fixture f;
        StoreDestination("127.0.0.1:" + std::to_string(port));
        QElapsedTimer t;
        t.start();
        f.frame.action(ID_LAN_CONNECT)->trigger();
        QVERIFY(t.elapsed() < 1000);
        QVERIFY(f.frame.session().lan().connecting());
        QVERIFY(f.frame.statusBar()->currentMessage().startsWith("Connecting to 127.0.0.1:"));
        bool ticked = false;
        QTimer::singleShot(50, [&] { ticked = true; });
        QTRY_VERIFY(ticked);  // the GUI thread runs its events meanwhile
        QVERIFY(f.frame.session().lan().connecting());
        QVERIFY(!f.enabled(ID_LAN_CONNECT));
        t.restart();
        f.disconnect();
        QVERIFY(t.elapsed() < 1000);
        QVERIFY(!f.frame.session().lan().connecting());
        QVERIFY(f.frame.session().lan().thread() == nullptr);
        QVERIFY(f.enabled(ID_LAN_CONNECT));
        QVERIFY(!f.boxes.sawText("Failed to establish TCP/IP connection..."));
        ::close(filler);
        ::close(lfd);
    }

    void emptyDestinationCreatesNothing() {
        Fixture f;
        const int tasks = CountEntries("/proc/self/task");
        f.frame.action(ID_LAN_CONNECT)->trigger();
        QVERIFY(f.boxes.sawText("Destination IP Address is not exist!!"));
        QVERIFY(f.frame.session().lan().thread() == nullptr);
        QCOMPARE(CountEntries("/proc/self/task"), tasks);
    }

    void peerCloseClearsTheFlagSilently() {
        LoopbackPeer peer([](LoopbackPeer&, int fd) { SendAll(fd, "bye"); });
        Fixture f;
        const int tasks = CountEntries("/proc/self/task");
        f.connectTo(peer.destination());
        QTRY_VERIFY(!f.frame.session().isLinkConnected(LinkKind::Lan));
        QCOMPARE(f.sink.text(), std::string("bye"));
        QCOMPARE(f.boxes.count(), size_t(0));
        QVERIFY(f.enabled(ID_LAN_CONNECT));
        QVERIFY(!f.enabled(ID_LAN_DISCONNECT));
        QTRY_VERIFY(f.frame.session().lan().thread() == nullptr);
        QTRY_COMPARE(CountEntries("/proc/self/task"), tasks);
    }

    // The out-of-band byte is read and dropped, the data around it shown; a reset with
    // unread data closes the link without any box.
    void urgentDataAndResetShowNoBox() {
        std::atomic<bool> go{false};
        LoopbackPeer peer([&](LoopbackPeer& p, int fd) {
            SendAll(fd, "a");
            ::send(fd, "!", 1, MSG_OOB);
            SendAll(fd, "b");
            while (!go && !p.stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            SendAll(fd, std::string(100000, 'c'));
            const linger reset{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        });
        Fixture f;
        f.connectTo(peer.destination());
        QTRY_VERIFY2(f.sink.text() == "ab", f.sink.text().c_str());
        go = true;
        QTRY_VERIFY(!f.frame.session().isLinkConnected(LinkKind::Lan));
        QTRY_VERIFY(f.frame.session().lan().thread() == nullptr);
        QCOMPARE(f.boxes.count(), size_t(0));
    }

    void disconnectAsksStopsCaptureAndWaits() {
        LoopbackPeer peer;
        TempDir dir;
        Fixture f;
        f.frame.session().lan().setDisconnectWaitMs(1000);
        f.connectTo(peer.destination());
        QVERIFY(f.frame.session().isLinkConnected(LinkKind::Lan));

        f.boxes.answer(IDNO);
        f.frame.action(ID_LAN_DISCONNECT)->trigger();
        QVERIFY(f.frame.session().isLinkConnected(LinkKind::Lan));
        const RecordedBox ask = f.boxes.boxes().back();
        QCOMPARE(ask.text, std::string("Are you sure to disconnect LAN connection ?"));
        QCOMPARE(ask.title, std::string("LAN Disconnect Confirmation"));
        QVERIFY(ask.buttons == MsgButtons::YesNo && ask.icon == MsgIcon::Question);

        f.boxes.answerSave(dir.file("trace.txt"));
        f.frame.session().CaptureOn();
        QVERIFY(f.frame.session().captureRunning());
        f.boxes.clear();
        QElapsedTimer t;
        t.start();
        f.disconnect();
        QVERIFY(t.elapsed() >= 1900);
        QVERIFY(!f.frame.session().captureRunning());
        QVERIFY(f.boxes.sawText("Stop Saving trace data."));
        QVERIFY(!f.frame.session().isLinkConnected(LinkKind::Lan));
        QTRY_VERIFY(peer.peerClosed());
    }

    void cyclesLeaveNoThreadsOrHandles() {
        LoopbackPeer peer;
        Fixture f;
        f.connectTo(peer.destination());  // warm-up: Qt's own helpers start once
        const int withWorker = CountEntries("/proc/self/task");
        f.disconnect();
        QTRY_VERIFY(peer.peerClosed());
        QTRY_VERIFY(CountEntries("/proc/self/task") < withWorker);  // the ended worker is reaped
        const int tasks = CountEntries("/proc/self/task");
        const int fds = CountEntries("/proc/self/fd");
        for (int i = 0; i < 50; ++i) {
            f.connectTo(peer.destination());
            QVERIFY(f.frame.session().isLinkConnected(LinkKind::Lan));
            f.frame.session().SendToLink("x", 1, false);
            f.disconnect();
            QVERIFY(!f.frame.session().isLinkConnected(LinkKind::Lan));
        }
        QTRY_VERIFY(peer.peerClosed());
        QCOMPARE(peer.accepted(), 51);
        QTRY_COMPARE(CountEntries("/proc/self/task"), tasks);
        QCOMPARE(CountEntries("/proc/self/fd"), fds);
        for (const RecordedBox& b : f.boxes.boxes())  // only the confirmations
            QCOMPARE(b.text, std::string("Are you sure to disconnect LAN connection ?"));
    }

    void floodArrivesCompleteWhileTheWindowResponds() {
        const size_t kSize = 10u * 1024 * 1024;
        std::string flood(kSize, '\0');
        for (size_t i = 0; i < kSize; ++i) flood[i] = static_cast<char>(1 + (i * 31 + i / 4093) % 254);
        std::atomic<bool> go{false};
        LoopbackPeer peer([&](LoopbackPeer& p, int fd) {
            while (!go && !p.stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            SendAll(fd, flood);
            p.Collect(fd);
        });
        Fixture f;
        f.connectTo(peer.destination());
        QVERIFY(f.frame.session().isLinkConnected(LinkKind::Lan));

        QElapsedTimer clock;
        qint64 last = 0, worst = 0;
        QTimer ping;
        ping.setInterval(10);
        QObject::connect(&ping, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            worst = std::max(worst, now - last - 10);
            last = now;
        });
        clock.start();
        ping.start();
        go = true;
        QTRY_VERIFY_WITH_TIMEOUT(f.sink.size() >= kSize, 120000);
        const qint64 ms = clock.elapsed();
        ping.stop();
        QVERIFY(f.sink.text() == flood);
        qInfo("LAN flood: %zu bytes in %lld ms (%.1f MB/s), worst GUI event delay %lld ms",
              kSize, ms, kSize / 1048576.0 / (ms / 1000.0), worst);

        // The same bytes read by a plain loopback reader, for comparison.
        unsigned short port = 0;
        const int lfd = ListenLoopback(1, &port);
        std::thread writer([&] {
            const int c = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(port);
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
            SendAll(c, flood);
            ::close(c);
        });
        const int rfd = ::accept(lfd, nullptr, nullptr);
        QElapsedTimer plain;
        plain.start();
        std::string got;
        std::vector<char> buf(65536);
        for (ssize_t n; (n = ::recv(rfd, buf.data(), buf.size(), 0)) > 0;) got.append(buf.data(), size_t(n));
        const qint64 plainMs = std::max<qint64>(plain.elapsed(), 1);
        writer.join();
        ::close(rfd);
        ::close(lfd);
        QCOMPARE(got.size(), kSize);
        qInfo("plain loopback reader: %lld ms (%.1f MB/s)", plainMs, kSize / 1048576.0 / (plainMs / 1000.0));
        f.disconnect();
    }

    void slowPeerGetsEveryByteOfALongCommand() {
        LoopbackPeer peer([](LoopbackPeer& p, int fd) { p.Collect(fd, 64, 50); }, 4096);
        Fixture f;
        f.frame.session().setConnectWakeupWaitMs(600000);  // only the command goes out here
        f.connectTo(peer.destination());
        QVERIFY(f.frame.session().isLinkConnected(LinkKind::Lan));
        std::string command, expected;
        for (int i = 0; i < 200000; ++i) {
            const char c = static_cast<char>(i % 97 == 0 ? 0xFF : 'a' + i % 26);
            command += c;
            expected += c;
            if (c == '\xFF') expected += c;
        }
        QElapsedTimer t;
        t.start();
        f.frame.session().SendToLink(command.data(), int(command.size()), true);
        const qint64 handedOver = t.elapsed();
        QTRY_VERIFY_WITH_TIMEOUT(peer.received().size() >= expected.size(), 60000);
        QVERIFY(peer.received() == expected);
        qInfo("200000-byte command handed over in %lld ms, delivered in %lld ms", handedOver, t.elapsed());
        f.disconnect();
    }

    void negotiationIsFreshOnEveryConnection() {
        LoopbackPeer peer([](LoopbackPeer& p, int fd) {
            SendAll(fd, kNegotiation);
            p.Collect(fd);
        });
        Fixture f;
        for (int round = 0; round < 2; ++round) {
            peer.clearReceived();
            f.connectTo(peer.destination());
            QVERIFY(f.frame.session().isLinkConnected(LinkKind::Lan));
            // Replies go out undoubled; the connect's carriage return may come before or after them.
            QTRY_VERIFY2_WITH_TIMEOUT(WithoutOneCr(peer.received()) == kTelnetReplies,
                         qPrintable(QStringLiteral("round %1 peer [%2] sink [%3] accepted %4 connected %5")
                                        .arg(round).arg(QByteArray::fromStdString(peer.received()).toHex())
                                        .arg(QByteArray::fromStdString(f.sink.text()).toHex())
                                        .arg(peer.accepted()).arg(int(f.frame.session().isLinkConnected(LinkKind::Lan)))), 20000);
            QTRY_VERIFY(f.sink.text().ends_with("login:"));
            f.disconnect();
            QTRY_VERIFY(peer.peerClosed());
        }
    }

    void configureDialogOffersTheRunsDestinations() {
        Fixture f;
        CLanConfigDlg::ClearDestinationList();
        StoreDestination("b-host");
        QStringList items;
        auto openWith = [&](std::function<void(QComboBox*)> edit, bool ok) {
            SetModalHook([&](QDialog& d) {
                QComboBox* combo = FindControl<QComboBox>(&d, IDC_LAN_DEST_COMBO);
                items.clear();
                for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
                edit(combo);
                ok ? d.accept() : d.reject();
                return d.result();
            });
            QVERIFY(f.enabled(ID_LAN_CONFIGURE));
            f.frame.action(ID_LAN_CONFIGURE)->trigger();
            SetModalHook(nullptr);
        };
        openWith([](QComboBox* c) {
            QCOMPARE(c->currentText(), QStringLiteral("b-host"));
            c->setEditText(QStringLiteral("a-host"));
        }, true);
        QCOMPARE(items, QStringList{"b-host"});  // a typed destination is not offered yet
        QCOMPARE(StoredDestination(), std::string("a-host"));

        openWith([](QComboBox* c) { c->setEditText(QStringLiteral("c-host")); }, false);
        QCOMPARE(items, (QStringList{"a-host", "b-host"}));
        QCOMPARE(StoredDestination(), std::string("a-host"));  // Cancel stores nothing

        openWith([](QComboBox* c) { c->setEditText(QString()); }, true);
        QCOMPARE(items, (QStringList{"a-host", "b-host"}));  // once each
        QVERIFY(f.boxes.sawText("Enter IP Address!"));
        QCOMPARE(f.boxes.boxes().back().title, std::string("Input Error"));
        QCOMPARE(StoredDestination(), std::string("a-host"));
    }
};

QTEST_MAIN(LanLinkTest)
#include "LanLinkTest.moc"
