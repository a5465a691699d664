// The main window: menus, toolbar, status bar and its panes, the input box bar, the
// command bar, the terminal view and the dialogs. It is the session's face: the session
// (session/Session.h) holds the links, login, capture and scripts, and reaches the window
// only through SessionFace. GUI thread.
#pragma once

#include <QMainWindow>
#include <QMap>

#include "commands/ButtonAssignment.h"
#include "commands/CommandTable.h"
#include "session/Session.h"
#include "session/SessionFace.h"

#include <QHash>

#include <functional>
#include <memory>
#include <string>

class QAction;
class QLabel;
class QMenu;
class QToolBar;
class QTimer;
class CInputBoxBar;
class CCommandBar;
class CCallProgressWnd;
class CTRQDiagView;

class CMainFrame : public QMainWindow, private SessionFace {
    Q_OBJECT
public:
    CMainFrame();
    ~CMainFrame() override;

    // Builds bars, loads the command configuration; false ends the program (the
    // reason has already been shown to the user).
    bool OnCreate();
    // The session this window is the face of.
    Session& session() { return *session_; }
    // Every command carries its numeric ID; tests and the bars trigger it by that.
    QAction* action(int id) const { return actions_.value(id, nullptr); }
    // Sets every action's enabled/checked state from the rules and refreshes the panes;
    // run before a menu shows and after every state change. An action without an enable
    // rule is grey.
    void updateCommandUi();
    // File > Open of a text file into the terminal; false when it cannot be read.
    bool OpenDocumentFile(const std::string& path);
    // File > Exit's close order with no box shown (their texts go to standard error):
    // for a signal that ends the program, when nobody may be there to answer.
    void CloseWithoutQuestions();

protected:
    void closeEvent(QCloseEvent* event) override;
    // A window system without a window manager ignores the minimum size: the frame
    // grows back to it rather than draw its bars over each other.
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // ---- SessionFace: today's dialogs, bars and panes ----
    std::optional<std::string> askPassword() override;
    bool askPhoneBook(CModemLink& modem) override;
    bool askIsdnGoAhead(CModemLink& modem, const std::string& number) override;
    void showCallProgress(const QString& text) override;
    void updateCallProgress(const QString& text) override;
    void hideCallProgress() override;
    void stateChanged() override { updateCommandUi(); }
    void loggedOut() override { hideCommandBarOnLogOut(); }
    void screenCleared() override;
    void noticeChanged(const QString& notice) override;
    void showMessage(const QString& text) override;
    QString message() const override;
    void clearMessage() override;
    void focusInput() override;
    // Moves a visible progress window 2 pixels inside the view's top-left corner.
    void placeProgressWindow();

    QAction* addCommand(QMenu* menu, int id, const QString& text, const QString& prompt);
    void setEnableRule(int id, std::function<bool()> rule) { enableRules_[id] = std::move(rule); }
    void setCheckRule(int id, std::function<bool()> rule) { checkRules_[id] = std::move(rule); }
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
    void OnClearNew();
    void OnAppAbout();
    void OnPhoneBook();

    // The links' commands and Configure dialogs (app/MainFrameLinks.cpp).
    void registerLinkCommands();
    void OnSerialConfigure();
    void OnModemConfigure();
    void OnLanConfigure();
    void OnIsdnConfigure();
    void registerCaptureCommands();
    void registerSessionCommands();

    // ---- Command bar, input box and Commands menu (app/MainFrameCommands.cpp) ----
    void registerCommandCommands();
    bool commandBarVisible() const;
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
    // Builds the line of a table position and sends it; a line too long is refused
    // with a message and nothing goes out. False when refused.
    bool sendCommandAt(int position);
    void hideCommandBarOnLogOut();

    // ---- Status panes (app/MainFrameStatus.cpp) ----
    void buildStatusPanes();
    void refreshStatusPanes();
    void refreshLinkPane();

    std::unique_ptr<Session> session_;
    CTRQDiagView* view_ = nullptr;  // child widget; deleted before the session
    CCallProgressWnd* progressWnd_ = nullptr;
    CommandTable commandTable_;
    CCommandBar* commandBar_ = nullptr;
    // The command bar was open when the access ended: it comes back at the next login.
    bool reopenCommandBar_ = false;
    ButtonAssignment buttons_;

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
    QLabel* linkPane_ = nullptr;
    QLabel* accessPane_ = nullptr;
    QLabel* capturePane_ = nullptr;
    QTimer* linkClock_ = nullptr;  // ticks the time connected
    QLabel* capsPane_ = nullptr;
    QLabel* numPane_ = nullptr;
    QLabel* scrlPane_ = nullptr;
};
