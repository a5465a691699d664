#include "runner/HeadlessRun.h"

#include "runner/HeadlessMessages.h"

#include "links/CModemLink.h"
#include "session/HeadlessScreen.h"
#include "session/IsdnControl.h"
#include "session/LanControl.h"
#include "session/ModemControl.h"
#include "session/SerialControl.h"
#include "session/Session.h"

#include <QTimer>

#include <cerrno>
#include <unistd.h>

namespace runner {

namespace {

// The session's wait before the connect's wake-up carriage return.
constexpr int kConnectWakeupMs = 1000;
constexpr int kMaxPasswordAsks = 3;

bool StartsWith(const QString& text, const char* start) { return text.startsWith(QLatin1String(start)); }

} // namespace

HeadlessRun::HeadlessRun(const RunOptions& options, HeadlessMessages& messages,
                         std::optional<std::string> password, std::vector<std::string> commands)
    : options_(options), messages_(messages), password_(std::move(password)), commands_(std::move(commands)) {
    session_ = std::make_unique<Session>(*this);
    // The switch's text goes out as it arrives, on the thread that delivered it.
    screen_ = std::make_unique<HeadlessScreen>(*session_, [this](std::string_view text) {
        if (!options_.quiet) writeOut(text.data(), text.size());
    });

    session_->setScriptTimeoutMs(options_.promptTimeoutSeconds * 1000);
    session_->SetTraceTimestamps(options_.timestamps);
    connect(session_.get(), &Session::accessModeChanged, this, &HeadlessRun::onAccessChanged, Qt::QueuedConnection);
    connect(session_.get(), &Session::scriptEnded, this, &HeadlessRun::onScriptEnded, Qt::QueuedConnection);
    connect(session_.get(), &Session::linkReached, this, [this] {
        reached_ = true;
        stateChanged();
    });

    connectTimer_ = new QTimer(this);
    connectTimer_->setSingleShot(true);
    connect(connectTimer_, &QTimer::timeout, this, [this] {
        finish(kExitConnectFailed,
               QStringLiteral("connect failed: no connection within %1 s").arg(options_.connectTimeoutSeconds));
    });
    // Not every step of a connect reports a state change (a modem's call coming up does
    // not): the state is also looked at while the connect lasts.
    connectPoll_ = new QTimer(this);
    connectPoll_->setInterval(100);
    connect(connectPoll_, &QTimer::timeout, this, &HeadlessRun::check);
    loginTimer_ = new QTimer(this);
    loginTimer_->setSingleShot(true);
    connect(loginTimer_, &QTimer::timeout, this, [this] {
        finish(kExitPromptTimeout,
               QStringLiteral("no login: no password prompt within %1 s").arg(options_.promptTimeoutSeconds));
    });
}

HeadlessRun::~HeadlessRun() {
    // Every thread that delivers text ends before the display it delivers to.
    session_->Shutdown();
    screen_.reset();
    session_.reset();
}

void HeadlessRun::start() {
    if (!options_.traceFile.empty()) {
        messages_.setTraceFile(options_.traceFile);
        // Capture runs from before the connect, so that the file holds the whole dialogue.
        messages_.hold(true);
        if (!session_->StartCapture(options_.traceFile)) {
            const std::string why = messages_.takeHeld();
            finish(kExitUsage, QString::fromStdString("cannot write the trace file " + options_.traceFile +
                                                      (why.empty() ? std::string() : ": " + why)));
            return;
        }
    }
    phase_ = Phase::Connecting;
    messages_.hold(true);
    connectTimer_->start(options_.connectTimeoutSeconds * 1000);
    connectPoll_->start();
    if (!connectLink()) {
        finish(kExitConnectFailed, QString());
        return;
    }
    check();
}

bool HeadlessRun::connectLink() {
    Session& s = *session_;
    switch (options_.link) {
    case LinkChoice::Lan: s.lan().OnConnect(); break;
    case LinkChoice::Serial: s.serial().OnConnect(); break;
    case LinkChoice::Modem:
    case LinkChoice::Entry:
        // Dialled as Reconnect dials, without the phone book (an entry's number was looked up).
        s.modemLink().SetDestination(options_.target.c_str());
        s.modem().Connect(false);
        break;
    case LinkChoice::Isdn: s.isdn().Connect(false); break;
    case LinkChoice::None: return false;
    }
    return true;
}

void HeadlessRun::stateChanged() {
    // Called from inside the session's own steps: looked at once they are over.
    if (checkQueued_) return;
    checkQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        checkQueued_ = false;
        check();
    });
}

void HeadlessRun::check() {
    if (phase_ == Phase::Idle || phase_ == Phase::Closing) return;
    Session& s = *session_;
    const bool linked = s.IsAnyLinkConnected();
    if (phase_ == Phase::Connecting) {
        // A link's flag may be up before its switch is reached (the modem's, from the dial on).
        if (linked && reached_) {
            phase_ = Phase::LoggingIn;
            connectTimer_->stop();
            connectPoll_->stop();
            messages_.hold(false);
            // A LAN or ISDN switch that waits for a key gets the wake-up carriage return
            // only after a second of silence: that second is not the switch's.
            loginTimer_->start(options_.promptTimeoutSeconds * 1000 + kConnectWakeupMs);
            return;
        }
        // The attempt is over when nothing is still being looked up, dialled or opened.
        if (!linked && !s.lan().connecting() && !s.modem().workerRunning()) {
            // One line: the failure's box and what the window's status bar would add.
            QString line = QString::fromStdString(messages_.takeHeld());
            if (!message_.isEmpty() && !line.contains(message_))
                line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + QStringLiteral("(%1)").arg(message_);
            finish(kExitConnectFailed, QStringLiteral("connect failed") + (line.isEmpty() ? QString() : QStringLiteral(": ") + line));
        }
        return;
    }
    if (!linked) {
        finish(kExitLinkLost, QStringLiteral("link lost") + (notice_.isEmpty() ? QString() : QStringLiteral(": ") + notice_));
    }
}

std::optional<std::string> HeadlessRun::askPassword() {
    ++passwordsAsked_;
    if (!password_) {
        finish(kExitLoginRefused,
               QStringLiteral("login refused: the switch asks for a password; give --password-file FILE or PMX_PASSWORD"));
        return std::nullopt;
    }
    // A switch asks again after an empty line too (a wake-up carriage return that crossed
    // its greeting): the password goes again, but not without end.
    if (passwordsAsked_ > kMaxPasswordAsks) {
        finish(kExitLoginRefused, QStringLiteral("login refused: the switch asked for the password %1 times")
                                      .arg(passwordsAsked_));
        return std::nullopt;
    }
    // The session applies the access decision and sends the password; then it is looked at.
    // A prompt can come before the connect's poll has noted the switch reached.
    QTimer::singleShot(0, this, [this] {
        if ((phase_ == Phase::Connecting || phase_ == Phase::LoggingIn) && session_->accessMode() == AccessMode::None)
            finish(kExitLoginRefused, QStringLiteral("login refused: the password gives no access level"));
    });
    return password_;
}

void HeadlessRun::onAccessChanged() {
    if (phase_ != Phase::LoggingIn || session_->accessMode() == AccessMode::None) return;
    loginTimer_->stop();
    phase_ = Phase::Running;
    messages_.say(session_->accessMode() == AccessMode::Maintenance ? "logged in: maintenance access"
                                                                     : "logged in: monitor access");
    if (commands_.empty()) {
        finish(kExitDone, QString());
        return;
    }
    // The script waits for the prompt after the password itself, with the same time-out.
    if (!session_->RunScriptCommands(commands_)) finish(kExitUsage, QString());
}

void HeadlessRun::onScriptEnded(const QString& why) {
    if (phase_ != Phase::Running) return;
    if (StartsWith(why, "Script done") || StartsWith(why, "Script stopped: logged out")) {
        finish(kExitDone, why);
    } else if (!session_->IsAnyLinkConnected()) {
        check();
    } else {
        // The time-out's box has told it.
        finish(kExitPromptTimeout, QString());
    }
}

void HeadlessRun::noticeChanged(const QString& notice) {
    if (!notice.isEmpty()) notice_ = notice;
}

void HeadlessRun::interrupt(const QString& why) { finish(kExitUsage, why); }

void HeadlessRun::finish(int code, const QString& line) {
    if (phase_ == Phase::Closing) return;
    phase_ = Phase::Closing;
    exitCode_ = code;
    connectTimer_->stop();
    connectPoll_->stop();
    loginTimer_->stop();
    messages_.hold(false);
    if (!line.isEmpty()) messages_.say(line.toStdString());
    // Closed once the step that decided it is over (a password request may be on the stack).
    QTimer::singleShot(0, this, &HeadlessRun::close);
}

void HeadlessRun::close() {
    Session& s = *session_;
    s.StopScript();
    // Log out as Log Out does; the serial port's disconnect does it on its own.
    if (s.accessMode() != AccessMode::None && s.IsAnyLinkConnected() && !s.isLinkConnected(LinkKind::Serial)) {
        s.SendWithCarriageReturn("x");
        s.ClearAccessMode();
    }
    // The window's close order: the capture's stop banner, then the links.
    s.EndCaptureOnExit();
    s.CloseLinksOnExit();
    s.Shutdown();
    emit finished(exitCode_);
}

void HeadlessRun::writeOut(const char* text, size_t length) {
    // Reader threads deliver one block at a time (the document's lock), so blocks keep their order.
    size_t done = 0;
    while (stdoutOpen_ && done < length) {
        const ssize_t n = ::write(1, text + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            stdoutOpen_ = false;  // a closed pipe: the run goes on for the trace and the exit code
            return;
        }
        done += static_cast<size_t>(n);
    }
}

} // namespace runner
