// The main window's construction, menus, bars, enable rules, File > Open, Clear New,
// the close order and the session's face. All on the GUI thread.
#include "app/CMainFrame.h"
#include "app/ShutdownSignals.h"

#include "platform/AppGlobals.h"
#include "app/AppIcons.h"
#include "app/CAboutDlg.h"
#include "app/CommandMenuTable.h"
#include "platform/DialogRunner.h"
#include "platform/MessageService.h"
#include "platform/Profile.h"
#include "commands/CInputBoxBar.h"
#include "links/CCallProgressWnd.h"
#include "links/CModemLink.h"
#include "phonebook/CPhoneBookDlg.h"
#include "terminal/CTRQDiagDoc.h"
#include "terminal/CEnterPasswordDlg.h"
#include "terminal/CTRQDiagView.h"
#include "res/resource.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QCloseEvent>
#include <QResizeEvent>
#include <QFileInfo>
#include <QLayout>
#include <QLineEdit>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <filesystem>

namespace {
constexpr int kRecentFiles = 4;
const char* const kRecentSection = "Recent File List";
const QString kFrameTitle = QStringLiteral("PMX Remote Diagnostic Tool");
} // namespace

CMainFrame::CMainFrame() {
    session_ = std::make_unique<Session>(static_cast<SessionFace&>(*this));
    setObjectName(QStringLiteral("MainFrame"));
    setWindowIcon(AppIcon());
    setDocumentTitle(QStringLiteral("Untitled"));
    resize(1100, 720);  // room for 90 columns beside the command bar

    view_ = new CTRQDiagView(session_->document(), this);
    setCentralWidget(view_);
    // Hooks are set before any link can deliver text.
    view_->SetHooks(session_->terminalHooks());
    progressWnd_ = new CCallProgressWnd(this);
    progressWnd_->hide();
}

CMainFrame::~CMainFrame() {
    // Every link stops delivering before the view goes; the view refers to the
    // session's document, so it goes before the session.
    session_->Shutdown();
    delete view_;
    view_ = nullptr;
}

QAction* CMainFrame::addCommand(QMenu* menu, int id, const QString& text, const QString& prompt) {
    auto* act = new QAction(text.section('\t', 0, 0), this);
    SetControlId(act, id);
    const QString shortcut = text.section('\t', 1);
    if (!shortcut.isEmpty()) act->setShortcut(QKeySequence(shortcut));
    if (!prompt.isEmpty()) {
        act->setStatusTip(prompt.section('\n', 0, 0));
        act->setToolTip(prompt.section('\n', 1).isEmpty() ? act->text().remove('&')
                                                          : prompt.section('\n', 1));
    }
    act->setEnabled(false);
    if (menu) menu->addAction(act);
    actions_.insert(id, act);
    return act;
}

void CMainFrame::buildMenus() {
    QMenuBar* bar = menuBar();

    fileMenu_ = bar->addMenu(QStringLiteral("&File"));
    addCommand(fileMenu_, ID_FILE_OPEN, QStringLiteral("&Open...\tCtrl+O"),
               QStringLiteral("Open an existing document\nOpen"));
    addCommand(fileMenu_, ID_CAPTURE_ON, QStringLiteral("Capture On"),
               QStringLiteral("Start saving the received trace data to a file\nCapture On"));
    addCommand(fileMenu_, ID_CAPTURE_OFF, QStringLiteral("Capture Off"),
               QStringLiteral("Stop saving the trace data\nCapture Off"));
    addCommand(fileMenu_, ID_FILE_RUN_SCRIPT, QStringLiteral("Run &Script..."),
               QStringLiteral("Send the commands of a text file, each at the switch's prompt\nRun Script"));
    addCommand(fileMenu_, ID_FILE_STOP_SCRIPT, QStringLiteral("S&top Script"),
               QStringLiteral("Stop the running command script\nStop Script"));
    recentSeparator_ = fileMenu_->addSeparator();
    for (int i = 0; i < kRecentFiles; ++i) {
        auto* act = new QAction(this);
        SetControlId(act, ID_FILE_MRU_FILE1 + i);
        act->setStatusTip(QStringLiteral("Open this document"));
        act->setVisible(false);
        fileMenu_->addAction(act);
        recentActions_.append(act);
        connect(act, &QAction::triggered, this, [this, i] {
            if (i < recent_.size() && !session_->IsAnyLinkConnected()) {
                if (!OpenDocumentFile(recent_[i].toLocal8Bit().toStdString()))
                    ShowMessage("Failed to open document.", "", MsgIcon::Warning);
            }
        });
    }
    fileMenu_->addSeparator();
    exitAction_ = addCommand(fileMenu_, ID_APP_EXIT, QStringLiteral("E&xit"),
                             QStringLiteral("Quit the application; prompts to save documents\nExit"));

    QMenu* conn = bar->addMenu(QStringLiteral("&Connection"));
    addCommand(conn, ID_SERIAL_CONNECT, QStringLiteral("&Serial Port Connect"),
               QStringLiteral("Establish serial port connection\nSerial Port Connect"));
    addCommand(conn, ID_SERIAL_DISCONNECT, QStringLiteral("Serial Port &Disconnect"),
               QStringLiteral("Disconnect serial port connection\nSerial Port Disconnect"));
    addCommand(conn, ID_SERIAL_CONFIGURE, QStringLiteral("Serial Port C&onfigure"),
               QStringLiteral("Configure serial port\nSerial Port Configure"));
    conn->addSeparator();
    addCommand(conn, ID_MODEM_CONNECT, QStringLiteral("&Modem Connect"),
               QStringLiteral("Establish modem connection\nModem Connect"));
    addCommand(conn, ID_MODEM_DISCONNECT, QStringLiteral("Modem Dis&connect"),
               QStringLiteral("Disconnect modem connection\nModem Disconnect"));
    addCommand(conn, ID_MODEM_CONFIGURE, QStringLiteral("Modem Confi&gure"),
               QStringLiteral("Configure modem\nModem Configure"));
    conn->addSeparator();
    addCommand(conn, ID_LAN_CONNECT, QStringLiteral("&LAN Connect"),
               QStringLiteral("Establish LAN connection"));
    addCommand(conn, ID_LAN_DISCONNECT, QStringLiteral("L&AN Disconnect"),
               QStringLiteral("Disconnect LAN communication"));
    addCommand(conn, ID_LAN_CONFIGURE, QStringLiteral("LA&N Configure"),
               QStringLiteral("Configure LAN"));
    conn->addSeparator();
    addCommand(conn, ID_ISDN_CONNECT, QStringLiteral("&ISDN Connect"),
               QStringLiteral("Estiblish ISDN connections"));
    addCommand(conn, ID_ISDN_DISCONNECT, QStringLiteral("ISDN D&isconnect"),
               QStringLiteral("Disconnect ISDN connection"));
    addCommand(conn, ID_ISDN_CONFIGURE, QStringLiteral("ISDN Con&figure"),
               QStringLiteral("Config ISDN connection"));
    conn->addSeparator();
    addCommand(conn, ID_CONNECTION_RECONNECT, QStringLiteral("&Reconnect\tCtrl+R"),
               QStringLiteral("Connect again the link that was connected last\nReconnect"));

    QMenu* cmds = bar->addMenu(QStringLiteral("Co&mmands"));
    QMenu* monitor = cmds->addMenu(QStringLiteral("Monitor"));
    QMenu* maint = cmds->addMenu(QStringLiteral("Maintenance"));
    for (const CommandMenuItem& item : kCommandMenu) {
        addCommand(item.position < kMonitorItems ? monitor : maint, item.id,
                   QString::fromLatin1(item.text), QString());
    }
    cmds->addSeparator();
    addCommand(cmds, ID_CMD_LOG_OUT, QStringLiteral("Log Out"),
               QStringLiteral("Log out from the switch\nLog Out"));

    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    QAction* tb = addCommand(view, ID_VIEW_TOOLBAR, QStringLiteral("&Toolbar"),
                             QStringLiteral("Show or hide the toolbar\nToggle ToolBar"));
    tb->setCheckable(true);
    QAction* cb = addCommand(view, ID_VIEW_COMMANDBAR, QStringLiteral("Co&mmand Bar"),
                             QStringLiteral("Show or hide the command bar\nToggle CommandBar"));
    cb->setCheckable(true);
    QAction* ib = addCommand(view, ID_VIEW_INPUTBOXBAR, QStringLiteral("&Input Box Bar"),
                             QStringLiteral("Show or hide the input box bar\nToggle CommandBar"));
    ib->setCheckable(true);
    addCommand(view, ID_VIEW_CLEARNEW, QStringLiteral("&Clear New"),
               QStringLiteral("Clear the screen and start a new document\nClear New"));
    addCommand(view, ID_VIEW_TRACE_TIMESTAMPS, QStringLiteral("Trace Time&stamps"),
               QStringLiteral("Start each line of the trace file with the time it arrived\nTrace Timestamps"))
        ->setCheckable(true);
    addCommand(view, ID_VIEW_HIDE_CONTROLS, QStringLiteral("&Hide Control Sequences"),
               QStringLiteral("Leave terminal control sequences off the screen; the trace stays exact\nHide Control Sequences"))
        ->setCheckable(true);

    QMenu* book = bar->addMenu(QStringLiteral("&PhoneBook"));
    addCommand(book, ID_PHONEBOOK, QStringLiteral("PhoneBook"),
               QStringLiteral("Edit the phone book and call a switch\nPhoneBook"));

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    addCommand(help, ID_APP_ABOUT, QStringLiteral("&About PMX Remote Diagnostic Tool..."),
               QStringLiteral("Display program information, version number and copyright\nAbout"));

    // Accelerators of the document template that have no menu item. Only New and
    // Open have handlers; the rest stay disabled.
    struct Accel { int id; const char* keys; };
    const Accel accels[] = {
        {ID_FILE_NEW, "Ctrl+N"}, {ID_FILE_SAVE, "Ctrl+S"}, {ID_FILE_PRINT, "Ctrl+P"},
        {ID_EDIT_UNDO, "Ctrl+Z"}, {ID_EDIT_CUT, "Ctrl+X"}, {ID_EDIT_COPY, "Ctrl+C"},
        {ID_EDIT_PASTE, "Ctrl+V"}, {ID_NEXT_PANE, "F6"}, {ID_PREV_PANE, "Shift+F6"},
    };
    for (const Accel& a : accels) {
        QAction* act = addCommand(nullptr, a.id, QString(), QString());
        act->setShortcut(QKeySequence(QString::fromLatin1(a.keys)));
        addAction(act);
    }
    addCommand(nullptr, ID_FILE_SAVE_AS, QString(), QString());
    const std::pair<int, const char*> alternates[] = {
        {ID_EDIT_UNDO, "Alt+Backspace"}, {ID_EDIT_CUT, "Shift+Del"},
        {ID_EDIT_COPY, "Ctrl+Ins"}, {ID_EDIT_PASTE, "Shift+Ins"}};
    for (const auto& [id, keys] : alternates) {
        QAction* act = actions_.value(id);
        act->setShortcuts({act->shortcut(), QKeySequence(QString::fromLatin1(keys))});
    }

    for (QMenu* m : bar->findChildren<QMenu*>())
        connect(m, &QMenu::aboutToShow, this, &CMainFrame::updateCommandUi);

    connect(action(ID_FILE_OPEN), &QAction::triggered, this, &CMainFrame::OnFileOpen);
    connect(action(ID_FILE_NEW), &QAction::triggered, this, &CMainFrame::OnClearNew);
    connect(action(ID_APP_EXIT), &QAction::triggered, this, &QWidget::close);
    connect(action(ID_APP_ABOUT), &QAction::triggered, this, &CMainFrame::OnAppAbout);
    connect(action(ID_VIEW_CLEARNEW), &QAction::triggered, this, &CMainFrame::OnClearNew);
    connect(action(ID_VIEW_INPUTBOXBAR), &QAction::triggered, this, [this] {
        inputBar_->setVisible(inputBar_->isHidden());
        updateCommandUi();
    });
}

void CMainFrame::buildToolBar() {
    toolBar_ = new QToolBar(QStringLiteral("Toolbar"), this);
    toolBar_->setObjectName(QStringLiteral("ToolBar"));
    SetControlId(toolBar_, AFX_IDW_TOOLBAR);
    toolBar_->setIconSize(QSize(16, 15));
    toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
    const int order[] = {ID_FILE_OPEN, ID_CAPTURE_ON, ID_CAPTURE_OFF, 0,
                         ID_SERIAL_CONNECT, ID_SERIAL_DISCONNECT, 0,
                         ID_MODEM_CONNECT, ID_MODEM_DISCONNECT, 0,
                         ID_LAN_CONNECT, ID_LAN_DISCONNECT, 0,
                         ID_ISDN_CONNECT, ID_ISDN_DISCONNECT, 0,
                         ID_VIEW_CLEARNEW, 0, ID_APP_ABOUT};
    for (int id : order) {
        if (id == 0) {
            toolBar_->addSeparator();
            continue;
        }
        QAction* act = action(id);
        act->setIcon(ToolbarIcon(id));
        toolBar_->addAction(act);
    }
    addToolBar(Qt::TopToolBarArea, toolBar_);
    connect(action(ID_VIEW_TOOLBAR), &QAction::triggered, this, [this] {
        toolBar_->setVisible(!toolBar_->isVisible());
        updateCommandUi();
    });
}

void CMainFrame::buildStatusBar() {
    QStatusBar* sb = statusBar();
    SetControlId(sb, AFX_IDW_STATUS_BAR);
    auto pane = [sb](const QString& text, int id) {
        auto* l = new QLabel(text, sb);
        SetControlId(l, id);
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        l->setAlignment(Qt::AlignCenter);
        l->setMinimumWidth(l->fontMetrics().horizontalAdvance(QStringLiteral("SCRLX")));
        // The lock keys' state cannot be read portably: the panes keep their place
        // and show their names greyed.
        l->setEnabled(false);
        sb->addPermanentWidget(l);
        return l;
    };
    buildStatusPanes();
    capsPane_ = pane(QStringLiteral("CAP"), ID_INDICATOR_CAPS);
    numPane_ = pane(QStringLiteral("NUM"), ID_INDICATOR_NUM);
    scrlPane_ = pane(QStringLiteral("SCRL"), ID_INDICATOR_SCRL);
    sb->showMessage(QStringLiteral("Ready"));
}

bool CMainFrame::OnCreate() {
    buildMenus();
    buildToolBar();
    buildStatusBar();

    inputBar_ = new CInputBoxBar(this);
    addDockWidget(Qt::BottomDockWidgetArea, inputBar_);
    // The terminal and the input box work as one: what is typed in the terminal goes to
    // the box, the scrollback keys typed in the box scroll the terminal.
    view_->SetInputWidget(inputBar_->edit());
    connect(view_, &CTRQDiagView::statusMessage, this, &CMainFrame::showMessage);
    connect(view_, &CTRQDiagView::scrolledBack, this, [this](bool back) {
        static const QString kScrolledBack = QStringLiteral("Scrolled back: Shift+End returns to the end");
        if (back) session_->ShowNotice(kScrolledBack);
        else session_->ClearNotice(kScrolledBack);
    });
    connect(inputBar_->edit(), &QLineEdit::inputRejected, this, [this] {
        showMessage(QStringLiteral("Cannot enter more than %1 characters...").arg(CInputBoxBar::kMaxLineLength));
    });
    setDockOptions(dockOptions() | QMainWindow::AllowNestedDocks);

    // The start directory is read once; "CmdConf.txt", the phone book and the
    // overflow dumps live there for the program's life.
    std::error_code ec;
    SetStartDirectory(std::filesystem::current_path(ec).string());
    const CommandTable::LoadResult loaded = commandTable_.Load();
    if (loaded != CommandTable::LoadResult::Ok) {
        ShowCommandTableError(loaded);
        return false;
    }
    commandTable_.ShowDroppedCommandsWarning();
    for (int i = 0; i < commandTable_.count(); ++i)
        inputBar_->commandList()->addItem(QString::fromLatin1(commandTable_.entry(i).name.c_str()));
    inputBar_->commandList()->setCurrentIndex(-1);

    loadRecentFiles();
    registerShellRules();
    registerCaptureCommands();
    registerCommandCommands();
    registerLinkCommands();
    registerSessionCommands();
    updateCommandUi();
    keepBarsApart();
    return true;
}

void CMainFrame::keepBarsApart() {
    // The bars' own minimum, and room for a useful terminal beside them and for a
    // notice beside the status panes. Set again whenever the bars change: an explicit
    // minimum no longer follows the layout.
    constexpr int kMinWidth = 860;
    constexpr int kMinHeight = 480;
    layout()->activate();
    setMinimumSize(layout()->totalMinimumSize().expandedTo(QSize(kMinWidth, kMinHeight)));
}

void CMainFrame::updateCommandUi() {
    // The session first: a link gone ends the access level and a running script.
    session_->followState();
    for (auto it = actions_.begin(); it != actions_.end(); ++it) {
        auto rule = enableRules_.constFind(it.key());
        it.value()->setEnabled(rule != enableRules_.constEnd() && (*rule)());
        auto check = checkRules_.constFind(it.key());
        if (check != checkRules_.constEnd()) it.value()->setChecked((*check)());
    }
    const bool anyLink = session_->IsAnyLinkConnected();
    for (QAction* act : recentActions_) act->setEnabled(!anyLink);
    refreshStatusPanes();
}

void CMainFrame::registerShellRules() {
    auto always = [] { return true; };
    setEnableRule(ID_FILE_OPEN, [this] { return !session_->IsAnyLinkConnected(); });
    setEnableRule(ID_FILE_NEW, always);
    setEnableRule(ID_APP_EXIT, always);
    setEnableRule(ID_APP_ABOUT, always);
    setEnableRule(ID_VIEW_TOOLBAR, always);
    setEnableRule(ID_VIEW_INPUTBOXBAR, always);
    setEnableRule(ID_VIEW_CLEARNEW, always);
    setEnableRule(ID_PHONEBOOK, always);
    connect(action(ID_PHONEBOOK), &QAction::triggered, this, &CMainFrame::OnPhoneBook);
    setCheckRule(ID_VIEW_TOOLBAR, [this] { return toolBar_ && toolBar_->isVisible(); });
    setCheckRule(ID_VIEW_INPUTBOXBAR, [this] { return inputBar_ && !inputBar_->isHidden(); });
}

void CMainFrame::setDocumentTitle(const QString& name) {
    setWindowTitle(name + QStringLiteral(" - ") + kFrameTitle);
}

void CMainFrame::loadRecentFiles() {
    recent_.clear();
    for (int i = 1; i <= kRecentFiles; ++i) {
        std::string v = Profile::get().getString(kRecentSection, "File" + std::to_string(i), "");
        if (!v.empty()) recent_.append(QString::fromLocal8Bit(v.c_str()));
    }
    rebuildRecentMenu();
}

void CMainFrame::addRecentFile(const QString& path) {
    const QString abs = QFileInfo(path).absoluteFilePath();
    recent_.removeAll(abs);
    recent_.prepend(abs);
    while (recent_.size() > kRecentFiles) recent_.removeLast();
    for (int i = 0; i < kRecentFiles; ++i) {
        Profile::get().writeString(kRecentSection, "File" + std::to_string(i + 1),
                                   i < recent_.size() ? recent_[i].toLocal8Bit().toStdString() : "");
    }
    rebuildRecentMenu();
}

void CMainFrame::rebuildRecentMenu() {
    for (int i = 0; i < recentActions_.size(); ++i) {
        QAction* act = recentActions_[i];
        if (i < recent_.size()) {
            act->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(recent_[i]).fileName()));
            act->setVisible(true);
        } else {
            act->setVisible(false);
        }
    }
    recentSeparator_->setVisible(!recent_.isEmpty());
}

void CMainFrame::OnFileOpen() {
    if (session_->IsAnyLinkConnected()) return;
    SaveFileRequest req;
    req.title = "Open";
    req.filter = "TRQDiag file (*.txt)|*.txt|All Files (*.*)|*.*||";
    req.defaultExt = "txt";
    auto path = MessageService::get().openFileName(req);
    if (!path) return;
    if (!OpenDocumentFile(*path)) ShowMessage("Failed to open document.", "", MsgIcon::Warning);
}

bool CMainFrame::OpenDocumentFile(const std::string& path) {
    const QString qpath = QString::fromLocal8Bit(path.c_str());
    if (!view_->OpenDocument(qpath)) return false;
    setDocumentTitle(QFileInfo(qpath).fileName());
    addRecentFile(qpath);
    return true;
}

void CMainFrame::OnClearNew() { session_->ClearScreen(); }

void CMainFrame::OnPhoneBook() {
    // Nothing is dialled from here: the engineer is told where the number went.
    if (ShowPhoneBook(this, session_->modemLink()) == IDOK)
        showMessage(QStringLiteral("Number %1 kept for the next Modem Connect.")
                        .arg(QString::fromLatin1(session_->modemLink().GetDestination().c_str())));
}

void CMainFrame::OnAppAbout() {
    CAboutDlg dlg(this);
    RunModal(dlg);
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    placeProgressWindow();
    const bool tooSmall = event->size().expandedTo(minimumSize()) != event->size();
    // One attempt per shrink: a window manager that insists on a smaller tile wins,
    // rather than the two trading resizes for ever.
    if (tooSmall && !growingBack_ && isWindow()) {
        growingBack_ = true;
        QTimer::singleShot(0, this, [this] { resize(size().expandedTo(minimumSize())); });
    } else if (!tooSmall) {
        growingBack_ = false;
    }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // Links that read from a port are closed first; LAN and ISDN are left to the
    // process's end.
    session_->CloseLinksOnExit();
    delete progressWnd_;
    progressWnd_ = nullptr;
    session_->EndCaptureOnExit();
    event->accept();
}

void CMainFrame::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    placeProgressWindow();
}

void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) placeProgressWindow();
}

// ---- The session's face ----

std::optional<std::string> CMainFrame::askPassword() {
    CEnterPasswordDlg dlg(this);
    // A link lost while the dialog is open closes it: nothing is granted or sent.
    QTimer watch(&dlg);
    connect(&watch, &QTimer::timeout, &dlg, [this, &dlg] {
        if (session_->linkPeerGone()) dlg.reject();
    });
    watch.start(100);
    if (RunModal(dlg) != QDialog::Accepted) return std::nullopt;
    return dlg.password().toLatin1().toStdString();
}

bool CMainFrame::askPhoneBook(CModemLink& modem) { return ShowPhoneBook(this, modem) == IDOK; }

bool CMainFrame::askIsdnGoAhead(CModemLink& modem, const std::string& number) {
    return ShowPhoneBook(this, modem, &number) == IDOK;
}

void CMainFrame::showCallProgress(const QString& text) {
    if (!progressWnd_ || progressWnd_->isVisible()) return;
    progressWnd_->show();
    placeProgressWindow();
    progressWnd_->SetText(text);
}

void CMainFrame::updateCallProgress(const QString& text) {
    if (progressWnd_ && progressWnd_->isVisible()) progressWnd_->SetText(text);
}

void CMainFrame::hideCallProgress() {
    if (progressWnd_ && progressWnd_->isVisible()) progressWnd_->hide();
}

void CMainFrame::placeProgressWindow() {
    if (!progressWnd_ || !progressWnd_->isVisible() || !view_) return;
    progressWnd_->move(view_->mapToGlobal(QPoint(2, 2)));
    progressWnd_->raise();
}

void CMainFrame::screenCleared() {
    view_->ClearScreen();
    setDocumentTitle(QStringLiteral("Untitled"));
}

void CMainFrame::focusInput() {
    if (inputBar_) inputBar_->edit()->setFocus();
}

void CMainFrame::CloseWithoutQuestions() {
    QuietMessages quiet;
    close();
}
