// Reconnect, command scripts and the wake-up carriage return of LAN and ISDN
// connects. All on the GUI thread except WatchScriptPrompt, which runs on the thread
// that delivered the text.
#include "session/Session.h"
#include "session/IsdnControl.h"
#include "session/LanControl.h"
#include "session/ModemControl.h"
#include "session/SerialControl.h"

#include "platform/GuiThread.h"
#include "platform/MessageService.h"
#include "commands/CommandScript.h"
#include "links/CModemLink.h"

#include <QTimer>

namespace {
const char* const kScriptTitle = "Run Script";
} // namespace

// ---- Reconnect ----

void Session::NoteLinkConnected(LinkKind kind) {
    hasConnected_ = true;
    lastLink_ = kind;
    // A phone book opened since (ISDN's go-ahead) may have picked another number.
    if (kind == LinkKind::Modem) lastModemNumber_ = modemLink().GetDestination();
    // A modem call is up from here, not from the start of its dialling.
    if (kind == LinkKind::Modem && shownLinkKind_ == int(LinkKind::Modem)) linkSinceMs_ = NowMsForLink();
    emit linkReached(kind);
}

bool Session::canReconnect() const {
    return hasConnected_ && !IsAnyLinkConnected() && !modem_->workerRunning();
}

void Session::Reconnect() {
    if (!canReconnect()) return;
    switch (lastLink_) {
    case LinkKind::Serial: serial_->OnConnect(); break;
    case LinkKind::Modem:
        modemLink().SetDestination(lastModemNumber_.c_str());
        modem_->Connect(false);
        break;
    case LinkKind::Lan: lan_->OnConnect(); break;
    case LinkKind::Isdn: isdn_->Connect(false); break;
    }
    updateState();
}

// ---- Wake-up after a LAN or ISDN connect ----

void Session::NoteConnectStarting() { connectArrivals_ = textArrivals_.load(); }

void Session::ScheduleConnectWakeup(LinkKind kind) {
    const unsigned wakeup = ++connectWakeups_;
    // Counted from the start of the connect: a switch that greets at once may have
    // spoken before the connect is reported here (LAN text is laid out on its worker,
    // ISDN's reader runs while the connect's box is open).
    const unsigned arrivals = connectArrivals_;
    QTimer::singleShot(connectWakeupWaitMs_, this, [this, kind, wakeup, arrivals] {
        // Another connect since, the link gone, or the switch has spoken: nothing to do.
        if (wakeup != connectWakeups_ || textArrivals_.load() != arrivals) return;
        const bool connected = kind == LinkKind::Lan ? linkFlag(LinkKind::Lan) != 0 : linkFlag(LinkKind::Isdn) != 0;
        if (connected) SendToLink("\r", 1, true);
    });
}

// ---- Command scripts ----

void Session::RunScript() {
    if (script_ || !IsAnyLinkConnected() || accessMode() == AccessMode::None) return;
    SaveFileRequest req;
    req.title = kScriptTitle;
    req.filter = "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||";
    req.defaultExt = "txt";
    const auto path = MessageService::get().openFileName(req);
    if (path) RunScriptFile(*path);
}

bool Session::RunScriptFile(const std::string& path) {
    if (script_) return false;
    if (!IsAnyLinkConnected() || accessMode() == AccessMode::None) {
        ShowMessage("A script runs only on a connected link after login.", kScriptTitle, MsgIcon::Warning);
        return false;
    }
    auto run = std::make_unique<ScriptRun>();
    int badLine = 0;
    const commandscript::LoadResult loaded = commandscript::LoadCommands(path, &run->commands, &badLine);
    if (loaded == commandscript::LoadResult::ControlBytes) {
        const std::string text = "The script file is not a text of commands: line " + std::to_string(badLine) +
                                 " holds control characters. Nothing was sent.";
        ShowMessage(text.c_str(), kScriptTitle, MsgIcon::Warning);
        return false;
    }
    if (loaded != commandscript::LoadResult::Loaded) {
        ShowMessage("Cannot read the script file (missing, unreadable or larger than 256 KB).", kScriptTitle,
                    MsgIcon::Warning);
        return false;
    }
    return RunScriptCommands(std::move(run->commands));
}

bool Session::RunScriptCommands(std::vector<std::string> commands) {
    if (script_) return false;
    if (!IsAnyLinkConnected() || accessMode() == AccessMode::None) {
        ShowMessage("A script runs only on a connected link after login.", kScriptTitle, MsgIcon::Warning);
        return false;
    }
    if (commands.empty()) {
        ShowMessage("The script file holds no commands.", kScriptTitle, MsgIcon::Warning);
        return false;
    }
    auto run = std::make_unique<ScriptRun>();
    run->commands = std::move(commands);
    script_ = std::move(run);
    bool atPrompt;
    {
        std::lock_guard lock(scriptLock_);
        script_->id = ++scriptRunId_;
        atPrompt = promptTail_.AtPrompt();
        awaitingPrompt_ = !atPrompt;
    }
    updateState();
    if (atPrompt) {
        ScriptStep();
    } else {
        face_.showMessage(QStringLiteral("Script: waiting for the prompt"));
        scriptTimer_->start(scriptTimeoutMs_);
    }
    return true;
}

void Session::StopScript() {
    if (script_) EndScript(QStringLiteral("Script stopped."), false);
}

void Session::WatchScriptPrompt(std::string_view text) {
    std::lock_guard lock(scriptLock_);
    promptTail_.Feed(text);
    if (awaitingPrompt_ && promptTail_.AtPrompt()) {
        awaitingPrompt_ = false;
        PostToGui([this, id = scriptRunId_] { StepScriptRun(id); }, this);
    }
}

void Session::StepScriptRun(unsigned id) {
    // A step posted for a script that has ended since (or been replaced) is dropped.
    if (script_ && script_->id == id) ScriptStep();
}

void Session::ScriptStep() {
    if (!script_) return;
    scriptTimer_->stop();
    if (!IsAnyLinkConnected()) {
        EndScript(QStringLiteral("Script stopped: the link was disconnected."), false);
        return;
    }
    ScriptRun& run = *script_;
    if (run.next >= run.commands.size()) {
        EndScript(QStringLiteral("Script done: %1 commands sent.").arg(run.commands.size()), false);
        return;
    }
    const std::string line = run.commands[run.next++];
    face_.showMessage(QStringLiteral("Script: line %1 of %2").arg(run.next).arg(run.commands.size()));
    {
        std::lock_guard lock(scriptLock_);
        awaitingPrompt_ = false;
        promptTail_.Clear();
    }
    // As from the input box: the log-out line clears the access mode, which ends the script.
    const bool logOut = line == "x" || line == "X";
    SendWithCarriageReturn(line);
    if (logOut) {
        ClearAccessMode();
        face_.loggedOut();
    }
    // A confirmation box may have run events meanwhile, the end of this script among them.
    if (!script_) return;
    bool atPrompt;
    {
        std::lock_guard lock(scriptLock_);
        atPrompt = promptTail_.AtPrompt();
        awaitingPrompt_ = !atPrompt;
    }
    if (atPrompt)
        PostToGui([this, id = run.id] { StepScriptRun(id); }, this);
    else
        scriptTimer_->start(scriptTimeoutMs_);
}

void Session::EndScript(const QString& why, bool tellInBox) {
    if (!script_) return;
    script_.reset();
    scriptTimer_->stop();
    {
        std::lock_guard lock(scriptLock_);
        awaitingPrompt_ = false;
    }
    face_.showMessage(why);
    updateState();
    if (tellInBox) ShowMessage(why.toStdString(), kScriptTitle, MsgIcon::Warning);
    emit scriptEnded(why);
}
