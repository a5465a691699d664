// Login: the matcher's callbacks and the Enter Password dialog. The matcher runs on the
// delivering thread; the dialog is always shown on the GUI thread.
#include "app/CMainFrame.h"

#include "platform/AppGlobals.h"
#include "platform/DialogRunner.h"
#include "platform/GuiThread.h"
#include "app/LanFrameLink.h"
#include "commands/CInputBoxBar.h"
#include "links/CSocketThread.h"
#include "terminal/CEnterPasswordDlg.h"
#include "terminal/CTRQDiagView.h"

#include <QLineEdit>
#include <QTimer>

#include <condition_variable>

struct CMainFrame::PasswordRequest {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    void Finish() {
        std::lock_guard lock(mutex);
        done = true;
        finished.notify_all();
    }
};

void CMainFrame::CancelPasswordRequest() {
    std::shared_ptr<PasswordRequest> request;
    {
        std::lock_guard lock(passwordLock_);
        request = std::move(passwordRequest_);
    }
    if (request) request->Finish();
}

void CMainFrame::setupLogin() {
    PromptMatcher::Callbacks cb;
    // The only blocking request a reader thread makes: it reads no more text until
    // the dialog is closed, or until a disconnect cancels the request (the reader's
    // link then waits for it). A cancelled request, or one whose link has gone by
    // the time the GUI thread gets to it, opens nothing.
    cb.askPassword = [this] {
        if (OnGuiThread()) {
            if (IsAnyLinkConnected()) OnEnterPassword();
            return;
        }
        auto request = std::make_shared<PasswordRequest>();
        {
            std::lock_guard lock(passwordLock_);
            passwordRequest_ = request;
        }
        PostToGui([this, request] {
            bool cancelled;
            {
                std::lock_guard lock(request->mutex);
                cancelled = request->done;
            }
            if (!cancelled && IsAnyLinkConnected()) OnEnterPassword();
            request->Finish();
        }, this);
        std::unique_lock lock(request->mutex);
        request->finished.wait(lock, [&] { return request->done; });
    };
    cb.anyLinkConnected = [this] { return IsAnyLinkConnected(); };
    cb.sendReply = [this](const char* bytes, int length) { WriteToConnectedLink(bytes, length); };
    view_->Matcher().SetCallbacks(std::move(cb));
    // A Telnet stream's data is one-byte blocks on the wire's terms, even when it is
    // handed over a run at a time.
    promptHandler_ = [this](std::string_view text) {
        view_->Matcher().HandleBlock(text, g_loading.load() != 0, TelnetStream::DeliveringData());
    };
}

void CMainFrame::OnEnterPassword() {
    CEnterPasswordDlg dlg(this);
    const bool linked = IsAnyLinkConnected();
    // The LAN worker waits for this dialog and cannot see its link end meanwhile: the
    // socket is watched from here, and a loss closes the dialog (the worker then tells it).
    auto lanGone = [this] { return lanLink().thread() && lanLink().thread()->PeerGone(); };
    QTimer watch(&dlg);
    connect(&watch, &QTimer::timeout, &dlg, [&dlg, lanGone] {
        if (lanGone()) dlg.reject();
    });
    watch.start(100);
    if (RunModal(dlg) != QDialog::Accepted) return;
    // The link ended while the dialog was up: no level can be granted on it.
    if (linked && (!IsAnyLinkConnected() || lanGone())) return;
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

bool CMainFrame::passwordDialogOpen() const { return findChild<CEnterPasswordDlg*>() != nullptr; }
bool CMainFrame::awaitingLogin() const { return view_->Matcher().AwaitingLogin(); }
