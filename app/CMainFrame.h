// The main window: menus, toolbar, status bar, input box bar, the command table and
// the link state. Lives on the GUI thread; reader threads reach it only through the
// thread-safe members marked below or through SendToGui/PostToGui.
#pragma once

#include <QMainWindow>
#include <QMap>

#include <QHash>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

class QAction;
class QDockWidget;
class QLabel;
class QMenu;
class QToolBar;
class CInputBoxBar;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    CMainFrame();
    ~CMainFrame() override;

    // Builds bars, loads the command configuration; false ends the program (the
    // reason has already been shown to the user).
    bool OnCreate();

    // Link state: written on the GUI thread, read from reader threads too.
    bool IsAnyLinkConnected() const;
    std::atomic<int> m_serialConnected{0};
    std::atomic<int> m_modemConnected{0};
    std::atomic<int> m_lanConnected{0};
    std::atomic<int> m_isdnConnected{0};

    QAction* action(int id) const { return actions_.value(id, nullptr); }
    CInputBoxBar* inputBoxBar() const { return inputBar_; }

    // Sets every action's enabled/checked state from the rules; run before a menu
    // shows and after every state change. An action without an enable rule is grey.
    void updateCommandUi();
    // Each subsystem registers the enable (and check) rules of its commands.
    void setEnableRule(int id, std::function<bool()> rule) { enableRules_[id] = std::move(rule); }
    void setCheckRule(int id, std::function<bool()> rule) { checkRules_[id] = std::move(rule); }

    // File > Open of a text file into the terminal; false when it cannot be read.
    bool OpenDocumentFile(const std::string& path);
    // Clear New: a new empty document and a cleared view.
    void OnClearNew();
    const QStringList& recentFiles() const { return recent_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* addCommand(QMenu* menu, int id, const QString& text, const QString& prompt);
    void buildMenus();
    void buildToolBar();
    void buildStatusBar();
    void registerShellRules();
    void loadRecentFiles();
    void addRecentFile(const QString& path);
    void rebuildRecentMenu();
    void setDocumentTitle(const QString& name);

    void OnFileOpen();
    void OnAppAbout();

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
    QLabel* capsPane_ = nullptr;
    QLabel* numPane_ = nullptr;
    QLabel* scrlPane_ = nullptr;
};
