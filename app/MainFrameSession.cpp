// Reconnect, command scripts and the wake-up carriage return of LAN and ISDN
// connects. All on the GUI thread except WatchScriptPrompt, which runs on the thread
// that delivered the text.
#include "app/CMainFrame.h"
#include "app/IsdnFrameLink.h"
#include "app/LanFrameLink.h"
#include "app/ModemFrameLink.h"
#include "app/SerialFrameLink.h"

#include "platform/GuiThread.h"
#include "platform/MessageService.h"
#include "links/CModemLink.h"
#include "res/resource.h"

#include <QAction>
#include <QStatusBar>
#include <QTimer>

namespace {
const char* const kScriptTitle = "Run Script";
} // namespace

void CMainFrame::registerSessionCommands() {
    setEnableRule(ID_CONNECTION_RECONNECT, [this] {
        return hasConnected_ && !IsAnyLinkConnected() && !modemWorkerRunning();
    });
    connect(action(ID_CONNECTION_RECONNECT), &QAction::triggered, this, &CMainFrame::OnReconnect);

    setEnableRule(ID_FILE_RUN_SCRIPT, [this] {
        return !script_ && IsAnyLinkConnected() && accessMode() != AccessMode::None;
    });
    setEnableRule(ID_FILE_STOP_SCRIPT, [this] { return script_ != nullptr; });
    connect(action(ID_FILE_RUN_SCRIPT), &QAction::triggered, this, &CMainFrame::OnRunScript);
    connect(action(ID_FILE_STOP_SCRIPT), &QAction::triggered, this, &CMainFrame::OnStopScript);

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
    connect(this, &CMainFrame::accessModeChanged, this, [this] {
        if (script_ && accessMode() == AccessMode::None)
            EndScript(QStringLiteral("Script stopped: logged out."), false);
    });
}

// ---- Reconnect ----

void CMainFrame::NoteLinkConnected(LinkKind kind) {
    hasConnected_ = true;
    lastLink_ = kind;
    // A phone book opened since (ISDN's go-ahead) may have picked another number.
    if (kind == LinkKind::Modem) lastModemNumber_ = modemLink().GetDestination();
}

void CMainFrame::OnReconnect() {
    if (!hasConnected_ || IsAnyLinkConnected() || modemWorkerRunning()) return;
    switch (lastLink_) {
    case LinkKind::Serial: serial_->OnConnect(); break;
    case LinkKind::Modem:
        modemLink().SetDestination(lastModemNumber_.c_str());
        modem_->Connect(false);
        break;
    case LinkKind::Lan: lan_->OnConnect(); break;
    case LinkKind::Isdn: isdn_->Connect(false); break;
    }
    updateCommandUi();
}

// ---- Wake-up after a LAN or ISDN connect ----

void CMainFrame::NoteConnectStarting() { connectArrivals_ = textArrivals_.load(); }

void CMainFrame::ScheduleConnectWakeup(LinkKind kind) {
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

void CMainFrame::OnRunScript() {
    if (script_ || !IsAnyLinkConnected() || accessMode() == AccessMode::None) return;
    SaveFileRequest req;
    req.title = kScriptTitle;
    req.filter = "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||";
    req.defaultExt = "txt";
    const auto path = MessageService::get().openFileName(req);
    if (path) RunScriptFile(*path);
}

bool CMainFrame::RunScriptFile(const std::string& path) {
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
    if (run->commands.empty()) {
        ShowMessage("The script file holds no commands.", kScriptTitle, MsgIcon::Warning);
        return false;
    }
    script_ = std::move(run);
    bool atPrompt;
    {
        std::lock_guard lock(scriptLock_);
        script_->id = ++scriptRunId_;
        atPrompt = promptTail_.AtPrompt();
        awaitingPrompt_ = !atPrompt;
    }
    updateCommandUi();
    if (atPrompt) {
        ScriptStep();
    } else {
        statusBar()->showMessage(QStringLiteral("Script: waiting for the prompt"));
        scriptTimer_->start(scriptTimeoutMs_);
    }
    return true;
}

void CMainFrame::OnStopScript() {
    if (script_) EndScript(QStringLiteral("Script stopped."), false);
}

void CMainFrame::WatchScriptPrompt(std::string_view text) {
    std::lock_guard lock(scriptLock_);
    promptTail_.Feed(text);
    if (awaitingPrompt_ && promptTail_.AtPrompt()) {
        awaitingPrompt_ = false;
        PostToGui([this, id = scriptRunId_] { StepScriptRun(id); }, this);
    }
}

void CMainFrame::StepScriptRun(unsigned id) {
    // A step posted for a script that has ended since (or been replaced) is dropped.
    if (script_ && script_->id == id) ScriptStep();
}

void CMainFrame::ScriptStep() {
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
    statusBar()->showMessage(QStringLiteral("Script: line %1 of %2").arg(run.next).arg(run.commands.size()));
    {
        std::lock_guard lock(scriptLock_);
        awaitingPrompt_ = false;
        promptTail_.Clear();
    }
    // As from the input box: the log-out line clears the access mode, which ends the script.
    const bool logOut = line == "x" || line == "X";
    sendWithCarriageReturn(line);
    if (logOut) {
        ClearAccessMode();
        hideCommandBarOnLogOut();
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

void CMainFrame::EndScript(const QString& why, bool tellInBox) {
    if (!script_) return;
    script_.reset();
    scriptTimer_->stop();
    {
        std::lock_guard lock(scriptLock_);
        awaitingPrompt_ = false;
    }
    statusBar()->showMessage(why);
    updateCommandUi();
    if (tellInBox) ShowMessage(why.toStdString(), kScriptTitle, MsgIcon::Warning);
}
