// The main window: menus, toolbar, status bar, input box bar, the command table and
// the link state. Lives on the GUI thread; reader threads reach it only through the
// thread-safe members marked below or through SendToGui/PostToGui. Each link's glue
// reaches it only through LinkHost.
#pragma once

#include <QMainWindow>
#include <QMap>

#include "commands/ButtonAssignment.h"
#include "commands/CommandScript.h"
#include "commands/CommandTable.h"
#include "terminal/PromptMatcher.h"
#include "terminal/TelnetStream.h"
#include "terminal/TraceCapture.h"
#include "app/LinkHost.h"

#include <QHash>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class QAction;
class QDockWidget;
class QLabel;
class QMenu;
class QToolBar;
class CInputBoxBar;
class CCommandBar;
class QTimer;
class CModemLink;
class CCallProgressWnd;
class ModemFrameLink;
class CSerialLink;
class SerialFrameLink;
class CTRQDiagDoc;
class CTRQDiagView;
class LanFrameLink;
class CIsdnLink;
class IsdnFrameLink;

class CMainFrame : public QMainWindow, public LinkHost {
    Q_OBJECT
public:
    CMainFrame();
    ~CMainFrame() override;

    // Builds bars, loads the command configuration; false ends the program (the
    // reason has already been shown to the user).
    bool OnCreate();

    // Link state: written on the GUI thread, read from reader threads too.
    bool IsAnyLinkConnected() const override;
    bool isLinkConnected(LinkKind kind) const override { return linkFlag(kind).load() != 0; }
    // The connection manager's flag of one link; each link's connect and disconnect
    // routines set it (tests put the frame in a state with it).
    void setLinkConnected(LinkKind kind, bool connected) override { linkFlag(kind) = connected ? 1 : 0; }

    // ---- Connection manager ----
    // Every outgoing line goes through here: the recovery confirmations, the modem
    // refusal, the response timer and the connected link's write. Returns the write's
    // result, or 1 when nothing was written. GUI thread.
    int SendToLink(const char* text, int length, bool startResponseTimer) override;
    // Writes to the connected link, tested in link order, with no confirmation and no
    // timer (the wake-up's and the cancel reply's carriage return).
    int WriteToConnectedLink(const char* text, int length) override;
    // The view's line message: text, then one carriage return, to the connected link.
    int SendLine(const char* text);
    // Each link registers its write operation while its object exists; an empty
    // function means there is no link object.
    void setLinkWriter(LinkKind kind, std::function<int(const char*, int)> writer) override;
    bool hasLinkWriter(LinkKind kind) const;
    // A link whose outgoing text is escaped (a Telnet peer) registers the unescaped path
    // here too: the Telnet stream's own replies go out through it, as they are. Without
    // one, replies use the link's writer.
    void setLinkReplyWriter(LinkKind kind, std::function<int(const char*, int)> writer) override;
    int WriteReplyToConnectedLink(const char* bytes, int length);

    // Timers 1075 (response) and 1074 (wake-up). Start on the GUI thread only.
    void StartResponseTimer();
    void StopResponseTimer() override;
    void StartWakeupTimer() override;
    void StopWakeupTimer() override;
    // Text arrived from the switch: stops both timers. Safe from any thread; off the
    // GUI thread the timers are stopped there, without waiting.
    void StopTimersOnArrival();
    bool responseTimerActive() const;
    bool wakeupTimerActive() const;

    CTRQDiagDoc& document() { return *doc_; }
    CTRQDiagView* view() const { return view_; }
    CommandTable& commandTable() { return commandTable_; }
    const CommandTable& commandTable() const { return commandTable_; }

    // Where links hand received text: the document's receive operation.
    ReceiveSink* receiveSink() const override { return receiveSink_; }
    void setReceiveSink(ReceiveSink* sink) override;
    // The Telnet stream shared by the LAN link (fed on the GUI thread) and the ISDN
    // link (fed on its reader thread); only one of them is connected at a time. Its
    // replies go to the connected link, its data to the receive sink. Reset it at
    // every LAN and ISDN connect.
    TelnetStream& telnet() override { return telnet_; }

    // ---- Login ----
    // The Enter Password dialog; runs on the GUI thread (a reader thread that found
    // the prompt waits for it). The password goes to the switch whatever it is.
    void OnEnterPassword();
    AccessMode accessMode() const;
    // The log-out paths: typed "x" and Log Out.
    void ClearAccessMode();

signals:
    // The access mode changed (a password was accepted, or a log-out); GUI thread.
    void accessModeChanged();

public:
    // ---- Trace capture ----
    TraceCapture& trace() override { return trace_; }
    void OnCaptureOn();
    void OnCaptureOff();
    // A disconnect command ends a running capture before its link closes.
    void StopCaptureIfRunning() override;
    // Received text for the trace file; any thread. A failed write is reported once,
    // without blocking the delivering thread, until a write succeeds again.
    void SaveTrace(std::string_view text);
    bool captureRunning() const { return m_captureRunning != 0; }
    // The keyboard focus to the input box's edit (control 1022).
    void focusInputEdit() override;

    // ---- Status bar (app/MainFrameStatus.cpp) ----
    // The message area shows "Ready", a menu item's prompt while it is hovered, a
    // passing message, or a standing notice. A notice is for a state the engineer must
    // not miss (link lost, output held, capture stopped by an error): it stays until
    // ClearNotice, the next notice or the next link connected; prompts and passing
    // messages give way to it again. GUI thread.
    void ShowNotice(const QString& text) override;
    // Clears the notice; with a text, only when that notice is the one shown (the state
    // it told of has ended, and a later notice must stay).
    void ClearNotice(const QString& onlyIf = QString()) override;
    QString notice() const { return notice_; }
    // Shown until the next prompt or message, then the notice or "Ready" again.
    void ShowStatusMessage(const QString& text) override;
    // The standing panes beside the message area: the link (kind, destination and time
    // connected, or "Not connected"), the access level, and the trace file while capturing.
    enum class StatusPane { Link, Access, Capture };
    QString statusPaneText(StatusPane pane) const;
    // A link ended without the user's Disconnect (peer closed, call ended, port gone).
    // The caller has released the link and cleared its flag; this ends the access mode,
    // stops the timers, brings the bars and menus in line and shows notice once.
    void OnLinkEnded(const QString& notice) override;

    // ---- Command bar, input box and Commands menu (app/MainFrameCommands.cpp) ----
    // The command bar; nullptr until it is first shown.
    CCommandBar* commandBar() const { return commandBar_; }
    bool commandBarVisible() const;
    const ButtonAssignment& buttonAssignment() const { return buttons_; }
    // View > Command Bar (32789): creates the bar on first use, else toggles it.
    void OnViewCommandBar();
    // Loads (or defaults) the assignment and puts it on the buttons.
    void FillCommandBar();
    // The group of the current access mode.
    void LayOutCommandBar();
    // A command-bar button, slots 0-39 (commands 1000-1039).
    void OnCommandButton(int slot);
    void OnCustomize();
    // The input box's Enter (1023) and Execute (1025).
    void OnInputEnter();
    void OnInputExecute();
    // WM_USER+16: runs Commands menu position 0-24 (24 is the log-out "x").
    void OnMenuCommand(int position);
    void OnLogOut();
    // Releases a reader thread waiting for the Enter Password dialog without showing
    // it: a link being closed waits for its reader. Any thread.
    void CancelPasswordRequest() override;

    // ---- The four links' glue (app/*FrameLink.cpp), each behind LinkHost ----
    CSerialLink* serialLink() const;
    void OnSerialConnect();     // 32774
    void OnSerialDisconnect();  // 32775, asks first
    // The serial disconnect routine, without confirmation (also the close order's).
    void SerialDisconnect();
    CModemLink& modemLink() override;
    CCallProgressWnd* progressWindow() const;
    bool modemWorkerRunning() const;
    LanFrameLink& lanLink() { return *lan_; }
    // The current ISDN link, or null (none, or a failed connect has been cleaned up).
    CIsdnLink* isdnLink() const;

    QAction* action(int id) const { return actions_.value(id, nullptr); }
    CInputBoxBar* inputBoxBar() const { return inputBar_; }

    // Sets every action's enabled/checked state from the rules; run before a menu
    // shows and after every state change. An action without an enable rule is grey.
    void updateCommandUi() override;
    // Each subsystem registers the enable (and check) rules of its commands.
    void setEnableRule(int id, std::function<bool()> rule) override { enableRules_[id] = std::move(rule); }
    void setCheckRule(int id, std::function<bool()> rule) { checkRules_[id] = std::move(rule); }

    // File > Open of a text file into the terminal; false when it cannot be read.
    bool OpenDocumentFile(const std::string& path);
    // Clear New: a new empty document and a cleared view.
    void OnClearNew() override;
    const QStringList& recentFiles() const { return recent_; }

    // File > Exit's close order with no box shown (their texts go to standard error):
    // for a signal that ends the program, when nobody may be there to answer.
    void CloseWithoutQuestions();

protected:
    void closeEvent(QCloseEvent* event) override;
    // A window system without a window manager ignores the minimum size: the frame
    // grows back to it rather than draw its bars over each other.
    void resizeEvent(QResizeEvent* event) override;
    void CloseLinksOnExit();

private:
    // LinkHost operations the frame's other users do not need.
    bool passwordDialogOpen() const override;
    bool awaitingLogin() const override;
    QString statusMessage() const override;
    void ClearStatusMessage() override;
    QWidget* dialogParent() override { return this; }
    QWidget* viewWidget() override;

private slots:
    void OnResponseTimer();
    void OnWakeupTimer();

private:
    QAction* addCommand(QMenu* menu, int id, const QString& text, const QString& prompt);
    void buildMenus();
    void buildToolBar();
    void buildStatusBar();
    // A minimum window size under which no bar would be drawn over another.
    void keepBarsApart();
    bool growingBack_ = false;  // a resize back to the minimum size is on its way
    void registerShellRules();
    void loadRecentFiles();
    void addRecentFile(const QString& path);
    void rebuildRecentMenu();
    void setDocumentTitle(const QString& name);

    void OnFileOpen();
    void OnAppAbout();

    enum : unsigned char { kResponseBit = 1, kWakeupBit = 2 };
    void stopTimer(unsigned char bit, QTimer* timer);

    void registerCaptureCommands();
    void OnTraceWriteFailed(const std::string& path);
    void registerCommandCommands();
    void sendWithCarriageReturn(const std::string& line);
    // Builds the line of a table position and sends it; a line too long is refused
    // with a message and nothing goes out. False when refused.
    bool sendCommandAt(int position);
    void hideCommandBarOnLogOut();
    CCommandBar* commandBar_ = nullptr;
    ButtonAssignment buttons_;

    void OnPhoneBook();
    void setupLogin();

    // The four connected flags, in link order.
    std::atomic<int>& linkFlag(LinkKind kind) const { return linkFlags_[static_cast<int>(kind)]; }
    mutable std::atomic<int> linkFlags_[4] = {0, 0, 0, 0};

    // The close order's link steps: the modem and serial disconnect routines (without
    // confirmation) and the progress window, installed with those links.
    std::function<void()> closeModemOnExit_;
    std::function<void()> closeSerialOnExit_;
    std::function<void()> destroyProgressWindow_;
    // Prompt handling on each received block (the login matcher), on the delivering thread.
    std::function<void(std::string_view)> promptHandler_;

    std::unique_ptr<CTRQDiagDoc> doc_;
    CTRQDiagView* view_ = nullptr;  // child widget; deleted before doc_
    struct PasswordRequest;
    std::mutex passwordLock_;
    std::shared_ptr<PasswordRequest> passwordRequest_;  // under passwordLock_
    CommandTable commandTable_;
    ReceiveSink* receiveSink_ = nullptr;
    TelnetStream telnet_{nullptr, nullptr};
    TraceCapture trace_;
    std::atomic<int> m_captureRunning{0};

    std::function<int(const char*, int)> linkWriters_[4];
    QTimer* responseTimer_ = nullptr;
    QTimer* wakeupTimer_ = nullptr;
    mutable std::mutex timerLock_;
    unsigned char pendingResponse_ = 0;  // under timerLock_

    QMap<int, QAction*> actions_;
    QHash<int, std::function<bool()>> enableRules_;
    QHash<int, std::function<bool()>> checkRules_;
    QToolBar* toolBar_ = nullptr;
    CInputBoxBar* inputBar_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QAction* recentSeparator_ = nullptr;
    QAction* exitAction_ = nullptr;
    QList<QAction*> recentActions_;
    QStringList recent_;
    // Status panes (app/MainFrameStatus.cpp).
    void buildStatusPanes();
    void refreshStatusPanes();
    void refreshLinkPane();
    // Notes which link is up; when none is any more, ends the access mode.
    void followLinkState();
    // The link pane's text for a link; detail, when given, gets what does not fit (a path).
    QString describeLink(LinkKind kind, QString* detail = nullptr) const;
    QLabel* linkPane_ = nullptr;
    QLabel* accessPane_ = nullptr;
    QLabel* capturePane_ = nullptr;
    QTimer* linkClock_ = nullptr;       // ticks the time connected
    int paneLinkKind_ = -1;             // the link the pane shows, -1 none
    QString paneLinkText_;              // its kind and destination
    qint64 linkSinceMs_ = 0;            // monotonic time it connected
    QString notice_;
    QLabel* capsPane_ = nullptr;
    QLabel* numPane_ = nullptr;
    QLabel* scrlPane_ = nullptr;
    std::function<int(const char*, int)> replyWriters_[4];

    // ---- Reconnect, command scripts, LAN/ISDN wake-up (app/MainFrameSession.cpp) ----
public:
    // Connection > Reconnect (32942): the Connect of the link that connected last in
    // this run, with its stored settings; the modem dials its last number again
    // without the phone book. Enabled while no link is connected.
    void OnReconnect();
    // A link reached its switch (success of its Connect).
    void NoteLinkConnected(LinkKind kind) override;
    // File > Run Script... (32940): picks a file and runs it; Stop Script (32941).
    void OnRunScript();
    void OnStopScript();
    // Sends the file's commands one at a time, each when the switch shows its command
    // prompt. False (the user has been told) when it cannot start.
    bool RunScriptFile(const std::string& path);
    bool scriptRunning() const { return script_ != nullptr; }
    // How long a script waits for the prompt after each command (default 30 s).
    void setScriptTimeoutMs(int ms) { scriptTimeoutMs_ = ms; }
    // How long LAN and ISDN connects wait for the switch to speak before sending
    // their wake-up carriage return.
    void setConnectWakeupWaitMs(int ms) { connectWakeupWaitMs_ = ms; }

private:
    struct ScriptRun {
        std::vector<std::string> commands;
        std::size_t next = 0;  // the command sent next
        unsigned id = 0;
    };
    void registerSessionCommands();
    // The connect's carriage return, sent only if the switch stays silent for a while:
    // one that greets at once would read it as an empty password.
    void ScheduleConnectWakeup(LinkKind kind) override;
    // Marks the start of a LAN or ISDN connect for the wake-up's silence test.
    void NoteConnectStarting() override;
    // Received text, on the delivering thread: the prompt watch of a running script.
    void WatchScriptPrompt(std::string_view text);
    void ScriptStep();
    void StepScriptRun(unsigned id);
    void EndScript(const QString& why, bool tellInBox);
    bool hasConnected_ = false;
    LinkKind lastLink_ = LinkKind::Serial;
    std::string lastModemNumber_;  // the number of the last modem connection
    int scriptTimeoutMs_ = 30000;
    int connectWakeupWaitMs_ = 1000;
    unsigned connectWakeups_ = 0;
    std::atomic<unsigned> textArrivals_{0};
    unsigned connectArrivals_ = 0;  // textArrivals_ when the last connect began
    std::unique_ptr<ScriptRun> script_;
    QTimer* scriptTimer_ = nullptr;
    std::mutex scriptLock_;
    PromptTail promptTail_;         // under scriptLock_
    bool awaitingPrompt_ = false;   // under scriptLock_
    unsigned scriptRunId_ = 0;      // under scriptLock_

    // Declared last: destroyed first, while the frame state their threads reached
    // still exists (the destructor has already ended those threads).
    std::unique_ptr<SerialFrameLink> serial_;
    std::unique_ptr<IsdnFrameLink> isdn_;
    std::unique_ptr<LanFrameLink> lan_;
    std::unique_ptr<ModemFrameLink> modem_;
};
