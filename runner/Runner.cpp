// One run of pmxdiag-run: the stages of a run, driven by a short tick and the session's
// signals; all on the GUI thread.
#include "runner/Runner.h"

#include "links/CModemLink.h"
#include "res/resource.h"
#include "session/HeadlessScreen.h"
#include "session/IsdnControl.h"
#include "session/LanControl.h"
#include "session/ModemControl.h"
#include "session/SerialControl.h"
#include "session/Session.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

namespace {
constexpr int kTickMs = 20;
constexpr int kMaxPasswordRequests = 3;

qint64 NowMs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}
} // namespace

int OverlayProfile::getInt(const std::string& section, const std::string& key, int defaultValue) {
    return own_.has(section, key) ? own_.getInt(section, key, defaultValue) : stored_.getInt(section, key, defaultValue);
}
std::string OverlayProfile::getString(const std::string& section, const std::string& key,
                                      const std::string& defaultValue) {
    return own_.has(section, key) ? own_.getString(section, key, defaultValue)
                                  : stored_.getString(section, key, defaultValue);
}
bool OverlayProfile::writeInt(const std::string& section, const std::string& key, int value) {
    return own_.writeInt(section, key, value);
}
bool OverlayProfile::writeString(const std::string& section, const std::string& key, const std::string& value) {
    return own_.writeString(section, key, value);
}

HeadlessRun::HeadlessRun(const RunOptions& options, std::string password, std::vector<std::string> commands,
                         std::string name, std::string number)
    : options_(options), password_(std::move(password)), commands_(std::move(commands)), name_(std::move(name)),
      number_(std::move(number)) {
    MessageService::install(this);
    session_ = std::make_unique<Session>(static_cast<SessionFace&>(*this));
    session_->setScriptTimeoutMs(options_.promptTimeoutS * 1000);
    session_->SetTraceTimestamps(options_.timestamps);
    std::function<void(std::string_view)> echo;
    if (!options_.quiet) {
        echo = [](std::string_view text) {
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fflush(stdout);
        };
    }
    screen_ = std::make_unique<HeadlessScreen>(*session_, std::move(echo));
    connect(session_.get(), &Session::linkReached, this, [this] { reached_ = true; });
    connect(session_.get(), &Session::scriptEnded, this, [this](const QString& why) {
        if (stage_ != Stage::Running) return;
        // A link that went away ends the access level too: the link is what ended it.
        if (!session_->IsAnyLinkConnected())
            Finish(kLinkLost, "link lost");
        else if (why.startsWith(QStringLiteral("Script done")) || why == QStringLiteral("Script stopped: logged out."))
            Finish(kDone, why.toStdString());
        else if (why.contains(QStringLiteral("no prompt")))
            Finish(kPromptTimeout, why.toStdString());
        else
            Finish(kLinkLost, why.toStdString());
    });
    tick_ = new QTimer(this);
    tick_->setInterval(kTickMs);
    connect(tick_, &QTimer::timeout, this, &HeadlessRun::Tick);
}

HeadlessRun::~HeadlessRun() {
    screen_.reset();
    session_.reset();
    MessageService::install(nullptr);
}

void HeadlessRun::Say(const std::string& text, bool progress) {
    // One line each: a box's own line breaks become " / ".
    std::string line;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') {
            if (!line.empty() && line.compare(line.size() - 3, 3, " / ") != 0) line += " / ";
        } else {
            line += c;
        }
    }
    while (line.size() >= 3 && line.compare(line.size() - 3, 3, " / ") == 0) line.resize(line.size() - 3);
    // Until the link is up, what is said is kept: a failed connect is one line.
    if (stage_ == Stage::Connecting) {
        held_.emplace_back(progress, line);
        return;
    }
    std::fprintf(stderr, "pmxdiag-run: %s: %s\n", name_.c_str(), line.c_str());
    std::fflush(stderr);
}

void HeadlessRun::ReleaseHeld() {
    std::vector<std::pair<bool, std::string>> held;
    held.swap(held_);
    for (const auto& [progress, line] : held) Say(line, progress);
}

int HeadlessRun::messageBox(const std::string& text, const std::string&, MsgIcon, MsgButtons buttons) {
    Say(text);
    switch (buttons) {
    case MsgButtons::Ok:
    case MsgButtons::OkCancel: return IDOK;
    case MsgButtons::YesNo:
    case MsgButtons::YesNoCancel: return IDYES;
    case MsgButtons::RetryCancel: return IDRETRY;
    }
    return IDOK;
}

std::optional<std::string> HeadlessRun::askPassword() {
    // The password goes to the switch whatever it is, as from the dialog; one that grants
    // no level there is refused at once. A switch may ask again (a stray carriage return
    // at its prompt counts as an empty password), but not for ever.
    if (++passwordsAsked_ > kMaxPasswordRequests) {
        QTimer::singleShot(0, this, [this] { Finish(kLoginRefused, "login refused: the switch keeps asking"); });
        return std::nullopt;
    }
    QTimer::singleShot(0, this, [this] {
        if (stage_ != Stage::Done && session_->accessMode() == AccessMode::None)
            Finish(kLoginRefused, "login refused: the password grants no access level");
    });
    return password_;
}

bool HeadlessRun::askPhoneBook(CModemLink& modem) {
    if (!number_.empty()) modem.SetDestination(number_.c_str());
    return true;
}

void HeadlessRun::showCallProgress(const QString& text) {
    if (!text.isEmpty()) Say(text.toStdString(), true);
}
void HeadlessRun::updateCallProgress(const QString& text) { showCallProgress(text); }

void HeadlessRun::noticeChanged(const QString& notice) {
    if (!notice.isEmpty()) Say(notice.toStdString());
}

void HeadlessRun::showMessage(const QString& text) {
    message_ = text;
    // Each script step would be a line per command; the rest is progress worth a line.
    if (!text.isEmpty() && !text.startsWith(QStringLiteral("Script: ")))
        Say(text.toStdString(), text.startsWith(QStringLiteral("Connecting to ")));
}

int HeadlessRun::Run() {
    QTimer::singleShot(0, this, [this] { Connect(); });
    tick_->start();
    QCoreApplication::exec();
    return exitCode_;
}

void HeadlessRun::Connect() {
    deadlineMs_ = NowMs() + qint64(options_.promptTimeoutS) * 1000;
    switch (options_.link) {
    case RunOptions::Link::Serial: session_->serial().OnConnect(); break;
    case RunOptions::Link::Modem:
    case RunOptions::Link::Entry: session_->modem().OnConnect(); break;
    case RunOptions::Link::Lan: session_->lan().OnConnect(); break;
    case RunOptions::Link::Isdn: session_->isdn().OnConnect(); break;
    case RunOptions::Link::None: break;
    }
}

void HeadlessRun::Tick() {
    Session& s = *session_;
    switch (stage_) {
    case Stage::Connecting:
        if (reached_) {
            stage_ = Stage::LoggingIn;
            ReleaseHeld();
            Say("connected");
            if (!options_.trace.empty() && !s.StartCapture(options_.trace)) {
                Finish(kUsageOrFile, "cannot write the trace file " + options_.trace);
                return;
            }
            deadlineMs_ = NowMs() + qint64(options_.promptTimeoutS) * 1000;
            return;
        }
        // Still trying: the LAN lookup or the modem's dial.
        if (s.lan().connecting() || s.modem().workerRunning()) return;
        if (!s.IsAnyLinkConnected()) {
            // What the link said, its progress left out: "connect failed: why; detail".
            std::string why;
            for (const auto& [progress, line] : held_)
                if (!progress) why += (why.empty() ? "" : "; ") + line;
            held_.clear();
            Finish(kConnectFailed, why.empty() ? "connect failed" : "connect failed: " + why);
        }
        return;
    case Stage::LoggingIn:
        if (!s.IsAnyLinkConnected()) {
            Finish(kLinkLost, "link lost");
        } else if (s.accessMode() != AccessMode::None) {
            Say(s.accessMode() == AccessMode::Maintenance ? "logged in (maintenance)" : "logged in (monitor)");
            stage_ = Stage::Running;
            if (!s.RunScriptCommands(commands_)) Finish(kUsageOrFile, "no commands");
        } else if (NowMs() > deadlineMs_) {
            Finish(kPromptTimeout, "no password prompt from the switch");
        }
        return;
    case Stage::Running:
        // The script's own end says how it went; a link gone ends it too.
        return;
    case Stage::Done: return;
    }
}

void HeadlessRun::Finish(int code, const std::string& why) {
    if (stage_ == Stage::Done) return;
    held_.clear();
    stage_ = Stage::Done;
    exitCode_ = code;
    tick_->stop();
    Session& s = *session_;
    if (s.scriptRunning()) s.StopScript();
    s.StopCaptureIfRunning();
    if (code != kDone) Say(why);
    // The person's Disconnect, its question answered yes: a logged-in switch is logged out.
    if (s.isLinkConnected(LinkKind::Serial)) s.serial().OnDisconnect();
    else if (s.isLinkConnected(LinkKind::Modem)) s.modem().OnDisconnect();
    else if (s.isLinkConnected(LinkKind::Lan) || s.lan().connecting()) {
        s.lan().setDisconnectWaitMs(200);
        s.lan().OnDisconnect();
    } else if (s.isLinkConnected(LinkKind::Isdn)) s.isdn().OnDisconnect();
    if (code == kDone) Say("done");
    QCoreApplication::exit(0);
}
