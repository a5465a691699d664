// The main frame's maintenance-command senders: the command bar (show, fill, lay out,
// its buttons and the Customize dialog), the input box's Enter and Execute, and the
// Commands menu with Log Out. All on the GUI thread.
#include "app/CMainFrame.h"

#include "app/CommandMenuTable.h"
#include "platform/DialogRunner.h"
#include "platform/MessageService.h"
#include "commands/BuildCommandLine.h"
#include "commands/CCommandBar.h"
#include "commands/CCommandBarCustomizeDlg.h"
#include "commands/CInputBoxBar.h"
#include "commands/QtArgumentPrompter.h"
#include "res/resource.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>

namespace {
constexpr int kMaxInputLength = CInputBoxBar::kMaxLineLength;
constexpr const char* kNotConnectedText = "Port is not connected!";
constexpr const char* kNotConnectedStatus = "Not connected";
} // namespace

void CMainFrame::registerCommandCommands() {
    auto loggedIn = [this] { return session_->accessMode() != AccessMode::None; };
    setEnableRule(ID_VIEW_COMMANDBAR, loggedIn);
    setCheckRule(ID_VIEW_COMMANDBAR, [this] { return commandBarVisible(); });
    connect(action(ID_VIEW_COMMANDBAR), &QAction::triggered, this, &CMainFrame::OnViewCommandBar);

    for (const CommandMenuItem& item : kCommandMenu) {
        const AccessMode needed =
            item.position < kMonitorItems ? AccessMode::Monitor : AccessMode::Maintenance;
        setEnableRule(item.id, [this, needed] { return session_->accessMode() == needed; });
        const int position = item.position;
        // The menu's message is sent, not posted: the item returns after the send.
        connect(action(item.id), &QAction::triggered, this, [this, position] { OnMenuCommand(position); });
    }
    setEnableRule(ID_CMD_LOG_OUT, loggedIn);
    connect(action(ID_CMD_LOG_OUT), &QAction::triggered, this, &CMainFrame::OnLogOut);

    connect(inputBar_, &CInputBoxBar::enterClicked, this, &CMainFrame::OnInputEnter);
    connect(inputBar_, &CInputBoxBar::executeClicked, this, &CMainFrame::OnInputExecute);
    // The list works on any connected link, so it is offered rather than kept hidden.
    inputBar_->setCommandListVisible(true);
    inputBar_->history().Load();

    connect(session_.get(), &Session::accessModeChanged, this, [this] {
        // A bar the engineer had open before the access ended comes back with it.
        if (reopenCommandBar_ && commandBar_ && session_->accessMode() != AccessMode::None && !commandBarVisible()) {
            reopenCommandBar_ = false;
            commandBar_->show();
            keepBarsApart();
            updateCommandUi();
        }
        if (commandBarVisible()) LayOutCommandBar();
    });
}

bool CMainFrame::commandBarVisible() const { return commandBar_ && !commandBar_->isHidden(); }

void CMainFrame::OnViewCommandBar() {
    if (!commandBar_) {
        commandBar_ = new CCommandBar(this);
        addDockWidget(Qt::RightDockWidgetArea, commandBar_);
        connect(commandBar_, &CCommandBar::commandClicked, this, &CMainFrame::OnCommandButton);
        connect(commandBar_, &CCommandBar::customizeClicked, this, &CMainFrame::OnCustomize);
        FillCommandBar();
        commandBar_->show();
        LayOutCommandBar();
    } else {
        commandBar_->setVisible(commandBar_->isHidden());
        if (!commandBar_->isHidden()) LayOutCommandBar();
    }
    reopenCommandBar_ = false;  // the engineer's own choice from here on
    keepBarsApart();
    updateCommandUi();
}

void CMainFrame::FillCommandBar() {
    if (!commandBar_) return;
    buttons_.Load(commandTable_.count());
    commandBar_->Fill(buttons_, commandTable_);
}

void CMainFrame::LayOutCommandBar() {
    if (!commandBar_) return;
    commandBar_->LayOut(session_->accessMode());
    keepBarsApart();
}

void CMainFrame::hideCommandBarOnLogOut() {
    if (!commandBarVisible()) return;
    reopenCommandBar_ = true;
    LayOutCommandBar();
    commandBar_->hide();
    updateCommandUi();
}

bool CMainFrame::sendCommandAt(int position) {
    QtArgumentPrompter prompter(this);
    bool tooLong = false;
    const std::string line = BuildCommandLine(commandTable_, position, prompter, &tooLong);
    if (tooLong) {
        // A cut line could mean something else to the switch; a bare carriage return
        // would pass for a sent command.
        ShowMessage(kCommandLineTooLongText, "Input Error", MsgIcon::Error);
        return false;
    }
    session_->SendWithCarriageReturn(line);
    return true;
}

void CMainFrame::OnCommandButton(int slot) {
    if (!session_->IsAnyLinkConnected()) {
        ShowMessage(kNotConnectedText, "", MsgIcon::Warning);
        return;
    }
    const int position = buttons_.at(slot);
    if (position == ButtonAssignment::kNone) return;
    sendCommandAt(position);
}

void CMainFrame::OnCustomize() {
    CCommandBarCustomizeDlg dlg(commandTable_, buttons_, this);
    if (RunModal(dlg) != QDialog::Accepted) return;
    buttons_ = dlg.assignment();
    buttons_.SaveCustomized();
    FillCommandBar();
}

void CMainFrame::OnInputEnter() {
    QLineEdit* edit = inputBar_->edit();
    if (!session_->IsAnyLinkConnected()) {
        // The typed line stays for when a link is up again.
        showMessage(QString::fromLatin1(kNotConnectedStatus));
        return;
    }
    const QString typed = edit->text();
    if (typed.size() > kMaxInputLength) {
        ShowMessage("Cannot enter more than 40 characters...", "Input Error", MsgIcon::Error);
        return;
    }
    // Before login a typed line may be a password: only lines sent at a command
    // level are remembered.
    InputHistory& history = inputBar_->history();
    if (session_->accessMode() != AccessMode::None) {
        history.Add(typed.toLatin1().toStdString());
        history.Save();
    }
    history.ResetWalk();
    if (typed == QLatin1String("x") || typed == QLatin1String("X")) {
        session_->ClearAccessMode();
        hideCommandBarOnLogOut();
    }
    session_->SendTypedLine(typed.toLatin1().toStdString());
    edit->clear();
    edit->setFocus();
}

void CMainFrame::OnInputExecute() {
    if (!session_->IsAnyLinkConnected()) {
        showMessage(QString::fromLatin1(kNotConnectedStatus));
        return;
    }
    QComboBox* list = inputBar_->commandList();
    // Text typed over a chosen name no longer names that command.
    int position = list->currentIndex();
    if (position >= 0 && list->itemText(position) != list->currentText()) position = -1;
    QtArgumentPrompter prompter(this);
    bool tooLong = false;
    const std::string line = BuildCommandLine(commandTable_, position, prompter, &tooLong);
    if (tooLong) {
        ShowMessage(kCommandLineTooLongText, "Input Error", MsgIcon::Error);
        return;
    }
    if (line.empty()) {
        list->clearEditText();
        return;
    }
    session_->SendWithCarriageReturn(line);
}

void CMainFrame::OnMenuCommand(int position) {
    if (position < 0 || position > kLogOutPosition) return;
    if (!session_->IsAnyLinkConnected()) {
        ShowMessage(kNotConnectedText, "", MsgIcon::Warning);
        return;
    }
    if (position == kLogOutPosition) session_->SendWithCarriageReturn("x");
    else sendCommandAt(position);
}

void CMainFrame::OnLogOut() {
    OnMenuCommand(kLogOutPosition);
    session_->ClearAccessMode();
    hideCommandBarOnLogOut();
}
