// The session's construction, its close order and the standing state its faces show
// (link, access level, capture, notice). All on the GUI thread except the hooks, which
// run on the thread that delivered the text.
#include "session/Session.h"

#include "links/CModemLink.h"
#include "links/CSerialLink.h"
#include "links/IsdnNumbers.h"
#include "platform/AppGlobals.h"
#include "platform/GuiThread.h"
#include "platform/Profile.h"
#include "res/resource.h"
#include "session/IsdnControl.h"
#include "session/LanControl.h"
#include "session/ModemControl.h"
#include "session/SerialControl.h"

#include <QFileInfo>
#include <QTimer>

#include <chrono>

namespace {
qint64 NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QString Elapsed(qint64 ms) {
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

Session::Session(SessionFace& face) : face_(face) {
    // Precise: a coarse timer may fire up to 5% early, and these periods are the switch's.
    responseTimer_ = new QTimer(this);
    responseTimer_->setTimerType(Qt::PreciseTimer);
    responseTimer_->setObjectName(QStringLiteral("timer1075"));
    responseTimer_->setProperty("pmxId", int(TIMER_RESPONSE));
    connect(responseTimer_, &QTimer::timeout, this, &Session::OnResponseTimer);
    wakeupTimer_ = new QTimer(this);
    wakeupTimer_->setTimerType(Qt::PreciseTimer);
    wakeupTimer_->setObjectName(QStringLiteral("timer1074"));
    wakeupTimer_->setProperty("pmxId", int(TIMER_WAKEUP));
    connect(wakeupTimer_, &QTimer::timeout, this, &Session::OnWakeupTimer);
    scriptTimer_ = new QTimer(this);
    scriptTimer_->setSingleShot(true);
    connect(scriptTimer_, &QTimer::timeout, this, [this] {
        if (!script_) return;
        const QString why = QStringLiteral("Script stopped: no prompt from the switch within %1 s after line %2.")
                                .arg((scriptTimeoutMs_ + 999) / 1000)
                                .arg(script_->next);
        EndScript(why, true);
    });
    // A script runs only at a command level: a log-out ends it.
    connect(this, &Session::accessModeChanged, this, [this] {
        if (script_ && accessMode() == AccessMode::None)
            EndScript(QStringLiteral("Script stopped: logged out."), false);
    });

    setReceiveSink(&doc_);
    setupLogin();
    trace_.SetFailureHandler([this](const std::string& path) {
        // The failing write may run on a reader thread, which must not wait for the person.
        PostToGui([this, path] { OnTraceWriteFailed(path); }, this);
    });

    isdn_ = std::make_unique<IsdnControl>(static_cast<LinkHost&>(*this));
    lan_ = std::make_unique<LanControl>(static_cast<LinkHost&>(*this));
    serial_ = std::make_unique<SerialControl>(static_cast<LinkHost&>(*this));
    modem_ = std::make_unique<ModemControl>(static_cast<LinkHost&>(*this));
    modem_->install();
    serial_->install();
}

Session::~Session() { Shutdown(); }

void Session::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    // The LAN worker reports into this session: it ends before anything it reaches goes.
    lan_->EndWorker();
    lan_->PurgeRetiredWorkers();
    // The ISDN reader feeds the display: it ends before the display goes.
    isdn_->Close();
    // A port still open stops delivering before the display and document go.
    if (CSerialLink* serial = serial_->link()) {
        setLinkConnected(LinkKind::Serial, false);
        serial->Close();
    }
}

TerminalHooks Session::terminalHooks() {
    TerminalHooks hooks;
    hooks.textArrived = [this] {
        ++textArrivals_;
        StopTimersOnArrival();
    };
    hooks.capturing = [this] { return captureRunning_ != 0; };
    // A failure ends the capture and reaches OnTraceWriteFailed once.
    hooks.traceBlock = [this](std::string_view block) { trace_.SaveReceived(block); };
    hooks.promptHandling = [this](std::string_view text) {
        // A Telnet stream's data is one-byte blocks on the wire's terms, even when it is
        // handed over a run at a time.
        matcher_.HandleBlock(text, g_loading.load() != 0, TelnetStream::DeliveringData());
        WatchScriptPrompt(text);
    };
    return hooks;
}

CModemLink& Session::modemLink() { return modem_->link(); }

void Session::CloseLinksOnExit() {
    if (isLinkConnected(LinkKind::Modem)) modem_->DisconnectRoutine();
    if (isLinkConnected(LinkKind::Serial)) serial_->Disconnect();
}

void Session::ClearScreen() {
    doc_.OnNewDocument();
    face_.screenCleared();
}

// ---- Standing state ----

void Session::ShowNotice(const QString& text) {
    notice_ = text;
    face_.noticeChanged(text);
}

void Session::ClearNotice(const QString& onlyIf) {
    if (onlyIf.isEmpty() || onlyIf == notice_) ShowNotice(QString());
}

void Session::OnLinkEnded(const QString& notice) {
    // Answers that can no longer come are not waited for.
    StopResponseTimer();
    StopWakeupTimer();
    updateState();
    ShowNotice(notice);
}

void Session::updateState() {
    followState();
    face_.stateChanged();
}

QString Session::describeLink(LinkKind kind, QString* detail) const {
    switch (kind) {
    case LinkKind::Serial: {
        int port = 0, baud = 0, bits = 0, stop = 0, parity = 0;
        unsigned char flow = 0;
        serial_->link()->GetSettings(&port, &baud, &bits, &stop, &parity, &flow);
        // The device's name only: the whole path is the detail.
        const QString path = QString::fromLocal8Bit(CSerialLink::DevicePath(port).c_str());
        if (detail) *detail = path;
        return QStringLiteral("Serial COM%1 (%2)").arg(port + 1).arg(QFileInfo(path).fileName());
    }
    case LinkKind::Modem:
        return QStringLiteral("Modem ") + QString::fromLatin1(modem_->link().GetDestination().c_str());
    case LinkKind::Lan:
        return QStringLiteral("LAN ") +
               QString::fromLatin1(Profile::get().getString("Server", "History %c", "").c_str());
    case LinkKind::Isdn:
        return QStringLiteral("ISDN ") + QString::fromLatin1(ReadStoredIsdnNumber().c_str());
    }
    return QString();
}

void Session::followState() {
    int kind = -1;
    for (int k = 0; k < 4 && kind < 0; ++k)
        if (linkFlags_[k]) kind = k;
    if (kind != shownLinkKind_) {
        const bool ended = shownLinkKind_ >= 0;
        shownLinkKind_ = kind;
        if (kind >= 0) {
            // A link is up again: what the notice said no longer holds.
            ClearNotice();
            shownLinkDetail_.clear();
            shownLinkText_ = describeLink(static_cast<LinkKind>(kind), &shownLinkDetail_);
            linkSinceMs_ = NowMs();
        } else if (ended && accessMode() != AccessMode::None) {
            // However the link ended, the level the switch granted ended with it: no
            // face may offer it, now or at the next connection.
            matcher_.ClearAccess();
            emit accessModeChanged();
            face_.loggedOut();
        }
    }
    if (script_ && !IsAnyLinkConnected()) EndScript(QStringLiteral("Script stopped: the link was disconnected."), false);
}

qint64 Session::NowMsForLink() { return NowMs(); }

QString Session::linkText(QString* detail) const {
    if (detail) *detail = shownLinkKind_ < 0 ? QString() : shownLinkDetail_;
    if (shownLinkKind_ < 0) return QStringLiteral("Not connected");
    // Nothing is up while the modem still dials: no time up to count.
    if (shownLinkKind_ == int(LinkKind::Modem) && modem_->dialling())
        return QStringLiteral("Dialling ") + QString::fromLatin1(modem_->link().GetDestination().c_str()) +
               QStringLiteral("...");
    return shownLinkText_ + QStringLiteral(", up ") + Elapsed(NowMs() - linkSinceMs_);
}

std::string Session::capturePath() const { return captureRunning() ? trace_.path() : std::string(); }
