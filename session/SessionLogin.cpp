// Login: the matcher's callbacks and the password request. The matcher runs on the
// delivering thread; the face is always asked on the GUI thread.
#include "session/Session.h"

#include "links/CSocketThread.h"
#include "session/LanControl.h"

#include "platform/GuiThread.h"

#include <QTimer>

#include <condition_variable>

struct Session::PasswordRequest {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    void Finish() {
        std::lock_guard lock(mutex);
        done = true;
        finished.notify_all();
    }
};

void Session::CancelPasswordRequest() {
    std::shared_ptr<PasswordRequest> request;
    {
        std::lock_guard lock(passwordLock_);
        request = std::move(passwordRequest_);
    }
    if (request) request->Finish();
}

void Session::setupLogin() {
    PromptMatcher::Callbacks cb;
    // The only blocking request a reader thread makes: it reads no more text until
    // the face has answered, or until a disconnect cancels the request (the reader's
    // link then waits for it). A cancelled request, or one whose link has gone by
    // the time the GUI thread gets to it, asks nothing.
    cb.askPassword = [this] {
        if (OnGuiThread()) {
            if (IsAnyLinkConnected()) RequestPassword();
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
            if (!cancelled && IsAnyLinkConnected()) RequestPassword();
            request->Finish();
        }, this);
        std::unique_lock lock(request->mutex);
        request->finished.wait(lock, [&] { return request->done; });
    };
    cb.anyLinkConnected = [this] { return IsAnyLinkConnected(); };
    cb.sendReply = [this](const char* bytes, int length) { WriteToConnectedLink(bytes, length); };
    // A repeat of the prompt right after an answer is absorbed; if the switch then
    // says nothing more, it was asking again (a refused password): ask once more.
    cb.promptAbsorbed = [this] {
        PostToGui([this] {
            if (!settleTimer_->isActive()) settleTimer_->start(int(PromptMatcher::kSettle.count()));
        }, this);
    };
    matcher_.SetCallbacks(std::move(cb));
    settleTimer_ = new QTimer(this);
    settleTimer_->setSingleShot(true);
    connect(settleTimer_, &QTimer::timeout, this, [this] {
        if (const int left = matcher_.AskIfSettled(); left > 0) settleTimer_->start(left);
    });
}

void Session::RequestPassword() {
    const bool linked = IsAnyLinkConnected();
    askingPassword_ = true;
    const std::optional<std::string> password = face_.askPassword();
    askingPassword_ = false;
    if (!password) return;
    // The link ended while the person was asked: no level can be granted on it.
    if (linked && (!IsAnyLinkConnected() || linkPeerGone())) return;
    const AccessMode before = matcher_.Access();
    if (matcher_.ApplyPassword(*password) != before) emit accessModeChanged();
    updateState();
    SendLine(password->c_str());
    face_.focusInput();
}

bool Session::linkPeerGone() const {
    const CSocketThread* worker = lan_ ? lan_->thread() : nullptr;
    return worker && worker->PeerGone();
}

void Session::SendTypedLine(const std::string& line) {
    // Typed after an Esc in the dialog (or over an absorbed prompt), the password
    // still logs in at the switch: the level must follow, or the commands stay grey.
    if (awaitingLogin() && IsAnyLinkConnected() &&
        (line == PromptMatcher::kMonitorCode || line == PromptMatcher::kMaintenanceCode)) {
        const AccessMode before = matcher_.Access();
        if (matcher_.ApplyPassword(line) != before) emit accessModeChanged();
        updateState();
    }
    SendWithCarriageReturn(line);
}

void Session::ClearAccessMode() {
    matcher_.ClearAccess();
    emit accessModeChanged();
    updateState();
}
