// A connected session, without widgets: the connection manager (link flags, writers, the
// send routine, the response and wake-up timers), the four links' controllers, login and
// the access decision, trace capture, command scripts, Reconnect and the standing state a
// face shows. It reaches a person only through SessionFace and MessageService. Lives on the
// GUI thread; reader threads reach it only through the members marked "any thread" or
// through SendToGui/PostToGui.
#pragma once

#include "commands/CommandScript.h"
#include "session/LinkHost.h"
#include "session/SessionFace.h"
#include "terminal/CTRQDiagDoc.h"
#include "terminal/PromptMatcher.h"
#include "terminal/TelnetStream.h"
#include "terminal/TerminalHooks.h"
#include "terminal/TraceCapture.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class QTimer;
class CModemLink;
class IsdnControl;
class LanControl;
class ModemControl;
class SerialControl;

class Session : public QObject, public LinkHost {
    Q_OBJECT
public:
    explicit Session(SessionFace& face);
    ~Session() override;
    // Ends every link's threads; the face's view may go after this. Idempotent.
    void Shutdown();

    // The transcript every link delivers to, and the hooks its display calls on each block.
    CTRQDiagDoc& document() { return doc_; }
    TerminalHooks terminalHooks();
    SessionFace& face() override { return face_; }

    // ---- Connection manager (session/Connection.cpp) ----
    bool IsAnyLinkConnected() const override;
    bool isLinkConnected(LinkKind kind) const override { return linkFlag(kind).load() != 0; }
    void setLinkConnected(LinkKind kind, bool connected) override { linkFlag(kind) = connected ? 1 : 0; }
    // Every outgoing line goes through here: the recovery confirmations, the modem
    // refusal, the response timer and the connected link's write. Returns the write's
    // result, or 1 when nothing was written.
    int SendToLink(const char* text, int length, bool startResponseTimer) override;
    // Writes to the connected link, tested in link order, with no confirmation and no timer.
    int WriteToConnectedLink(const char* text, int length) override;
    // The password line: text, then one carriage return, to the connected link.
    int SendLine(const char* text);
    // A line as the input box sends it: the text, then a carriage return, each confirmed and timed.
    void SendWithCarriageReturn(const std::string& line);
    // Each link registers its write while its object exists; an empty function: no link object.
    // Reader threads call writers too (Telnet replies, the cancel reply): a call takes a
    // shared hold of the writer under a lock and runs outside it, so a writer replaced
    // meanwhile finishes that call; a writer shares ownership of what it writes to.
    void setLinkWriter(LinkKind kind, std::function<int(const char*, int)> writer) override;
    bool hasLinkWriter(LinkKind kind) const;
    // A Telnet link's unescaped write for the stream's own replies; without one, the writer.
    void setLinkReplyWriter(LinkKind kind, std::function<int(const char*, int)> writer) override;
    int WriteReplyToConnectedLink(const char* bytes, int length);

    // Timers 1075 (response) and 1074 (wake-up). Start on the GUI thread only.
    void StartResponseTimer();
    void StopResponseTimer() override;
    void StartWakeupTimer() override;
    void StopWakeupTimer() override;
    // Text arrived from the switch: stops both timers. Any thread.
    void StopTimersOnArrival();
    bool responseTimerActive() const;
    bool wakeupTimerActive() const;

    ReceiveSink* receiveSink() const override { return receiveSink_; }
    void setReceiveSink(ReceiveSink* sink) override;
    TelnetStream& telnet() override { return telnet_; }

    // ---- Login (session/SessionLogin.cpp) ----
    // Asks the face for the password (a reader thread that found the prompt waits for it);
    // the password goes to the switch whatever it is.
    void RequestPassword();
    AccessMode accessMode() const { return matcher_.Access(); }
    bool awaitingLogin() const override { return matcher_.AwaitingLogin(); }
    // A line typed in the input box, sent with its carriage return. At the login stage
    // an access code typed there gets the access the password dialog would give.
    void SendTypedLine(const std::string& line);
    // The log-out paths: a typed "x" and Log Out.
    void ClearAccessMode();
    void CancelPasswordRequest() override;
    bool passwordDialogOpen() const override { return askingPassword_; }
    // The LAN worker waits for the password and cannot see its link end meanwhile: a face
    // that asks a person watches this and gives up asking once the peer has gone.
    bool linkPeerGone() const;

    // ---- Trace capture (session/SessionCapture.cpp) ----
    TraceCapture& trace() override { return trace_; }
    void CaptureOn();
    // Capture On with a chosen file: false (the person has been told) when it cannot start.
    bool StartCapture(const std::string& path);
    void CaptureOff();
    void StopCaptureIfRunning() override;
    bool captureRunning() const { return captureRunning_ != 0; }
    void SetTraceTimestamps(bool on);
    // The close order: a running capture is ended and its end told.
    void EndCaptureOnExit();

    // ---- Standing state (session/Session.cpp) ----
    void ShowNotice(const QString& text) override;
    void ClearNotice(const QString& onlyIf = QString()) override;
    QString notice() const { return notice_; }
    void ShowStatusMessage(const QString& text) override { face_.showMessage(text); }
    QString statusMessage() const override { return face_.message(); }
    void ClearStatusMessage() override { face_.clearMessage(); }
    void OnLinkEnded(const QString& notice) override;
    void updateState() override;
    // Notes which link is up (ending the access level when none is any more) and ends a
    // script whose link has gone; run before a face shows the state.
    void followState();
    // The link shown: its kind and destination with the time up, or "Not connected";
    // detail gets what does not fit (a device path).
    QString linkText(QString* detail = nullptr) const;
    // The capture's file while capturing, else empty.
    std::string capturePath() const;

    // ---- Connect bookkeeping, Reconnect, scripts (session/SessionScripts.cpp) ----
    void ClearScreen() override;
    void NoteConnectStarting() override;
    void ScheduleConnectWakeup(LinkKind kind) override;
    void NoteLinkConnected(LinkKind kind) override;
    // The Connect of the link that connected last, with its stored settings.
    void Reconnect();
    bool canReconnect() const;
    void RunScript();  // asks for the file
    bool RunScriptFile(const std::string& path);
    // The same with commands already read (one line each, as a script file's).
    bool RunScriptCommands(std::vector<std::string> commands);
    void StopScript();
    bool scriptRunning() const { return script_ != nullptr; }
    void setScriptTimeoutMs(int ms) { scriptTimeoutMs_ = ms; }
    void setConnectWakeupWaitMs(int ms) { connectWakeupWaitMs_ = ms; }

    // ---- The four links' controllers ----
    SerialControl& serial() { return *serial_; }
    ModemControl& modem() { return *modem_; }
    LanControl& lan() { return *lan_; }
    IsdnControl& isdn() { return *isdn_; }
    CModemLink& modemLink() override;
    // The close order's link steps: modem and serial are hung up, the others left to the end.
    void CloseLinksOnExit();

signals:
    // The access level changed (a password was accepted, or a log-out).
    void accessModeChanged();
    // A script ended; why is what the face's message area showed.
    void scriptEnded(const QString& why);
    // A link's Connect reached its switch.
    void linkReached(LinkKind kind);

private:
    struct PasswordRequest;
    struct ScriptRun {
        std::vector<std::string> commands;
        std::size_t next = 0;
        unsigned id = 0;
    };
    enum : unsigned char { kResponseBit = 1, kWakeupBit = 2 };

    std::atomic<int>& linkFlag(LinkKind kind) const { return linkFlags_[static_cast<int>(kind)]; }
    void stopTimer(unsigned char bit, QTimer* timer);
    void OnResponseTimer();
    void OnWakeupTimer();
    void setupLogin();
    void OnTraceWriteFailed(const std::string& path);
    void WatchScriptPrompt(std::string_view text);
    void ScriptStep();
    void StepScriptRun(unsigned id);
    void EndScript(const QString& why, bool tellInBox);
    QString describeLink(LinkKind kind, QString* detail) const;
    static qint64 NowMsForLink();  // the monotonic clock the link pane counts on

    SessionFace& face_;
    CTRQDiagDoc doc_;
    PromptMatcher matcher_;
    mutable std::atomic<int> linkFlags_[4] = {0, 0, 0, 0};
    mutable std::mutex writerLock_;
    using Writer = std::shared_ptr<const std::function<int(const char*, int)>>;
    Writer writerOf(LinkKind kind, bool reply) const;
    Writer linkWriters_[4];   // under writerLock_
    Writer replyWriters_[4];  // under writerLock_
    ReceiveSink* receiveSink_ = nullptr;
    TelnetStream telnet_{nullptr, nullptr};
    TraceCapture trace_;
    std::atomic<int> captureRunning_{0};

    QTimer* responseTimer_ = nullptr;
    QTimer* wakeupTimer_ = nullptr;
    mutable std::mutex timerLock_;
    unsigned char pendingResponse_ = 0;  // under timerLock_

    QTimer* settleTimer_ = nullptr;  // an absorbed prompt's settle check
    std::mutex passwordLock_;
    std::shared_ptr<PasswordRequest> passwordRequest_;  // under passwordLock_
    bool askingPassword_ = false;

    QString notice_;
    int shownLinkKind_ = -1;   // the link the state shows, -1 none
    QString shownLinkText_;    // its kind and destination
    QString shownLinkDetail_;
    qint64 linkSinceMs_ = 0;   // monotonic time it connected

    bool hasConnected_ = false;
    LinkKind lastLink_ = LinkKind::Serial;
    std::string lastModemNumber_;
    int scriptTimeoutMs_ = 30000;
    int connectWakeupWaitMs_ = 1000;
    unsigned connectWakeups_ = 0;
    std::atomic<unsigned> textArrivals_{0};
    unsigned connectArrivals_ = 0;
    std::unique_ptr<ScriptRun> script_;
    QTimer* scriptTimer_ = nullptr;
    std::mutex scriptLock_;
    PromptTail promptTail_;        // under scriptLock_
    bool awaitingPrompt_ = false;  // under scriptLock_
    unsigned scriptRunId_ = 0;     // under scriptLock_
    bool shutDown_ = false;

    // Declared last: destroyed first, while the state their threads reached still exists.
    std::unique_ptr<SerialControl> serial_;
    std::unique_ptr<IsdnControl> isdn_;
    std::unique_ptr<LanControl> lan_;
    std::unique_ptr<ModemControl> modem_;
};
