// Login: the matcher's callbacks and the Enter Password dialog. The matcher runs on the
// delivering thread; the dialog is always shown on the GUI thread.
#include "app/CMainFrame.h"

#include "app/AppGlobals.h"
#include "app/DialogRunner.h"
#include "app/GuiThread.h"
#include "commands/CInputBoxBar.h"
#include "terminal/CEnterPasswordDlg.h"
#include "terminal/CTRQDiagView.h"

#include <QLineEdit>

void CMainFrame::setupLogin() {
    PromptMatcher::Callbacks cb;
    // The only blocking request a reader thread makes: it reads no more text until
    // the dialog is closed.
    // A request answered after its link was closed (a disconnect that ran while the
    // reader waited here) opens nothing.
    cb.askPassword = [this] {
        SendToGui([this] {
            if (IsAnyLinkConnected()) OnEnterPassword();
        });
    };
    cb.anyLinkConnected = [this] { return IsAnyLinkConnected(); };
    cb.sendReply = [this](const char* bytes, int length) { WriteToConnectedLink(bytes, length); };
    view_->Matcher().SetCallbacks(std::move(cb));
    promptHandler_ = [this](std::string_view text) {
        const std::string block(text);
        view_->Matcher().HandleBlock(block.c_str(), g_loading.load() != 0);
    };
}

void CMainFrame::OnEnterPassword() {
    CEnterPasswordDlg dlg(this);
    if (RunModal(dlg) != QDialog::Accepted) return;
    const std::string password = dlg.password().toLatin1().toStdString();
    const AccessMode before = view_->Matcher().Access();
    if (view_->Matcher().ApplyPassword(password) != before) emit accessModeChanged();
    updateCommandUi();
    SendLine(password.c_str());
    focusInputEdit();
}

AccessMode CMainFrame::accessMode() const { return view_->Matcher().Access(); }

void CMainFrame::ClearAccessMode() {
    view_->Matcher().ClearAccess();
    emit accessModeChanged();
    updateCommandUi();
}
