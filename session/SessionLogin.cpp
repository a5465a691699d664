// Login: the matcher's callbacks and the password request. The matcher runs on the
// delivering thread; the face is always asked on the GUI thread.
#include "session/Session.h"

#include "platform/GuiThread.h"

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
    matcher_.SetCallbacks(std::move(cb));
}

void Session::RequestPassword() {
    const bool linked = IsAnyLinkConnected();
    askingPassword_ = true;
    const std::optional<std::string> password = face_.askPassword();
    askingPassword_ = false;
    if (!password) return;
    // The link ended while the person was asked: no level can be granted on it.
    if (linked && !IsAnyLinkConnected()) return;
    const AccessMode before = matcher_.Access();
    if (matcher_.ApplyPassword(*password) != before) emit accessModeChanged();
    updateState();
    SendLine(password->c_str());
    face_.focusInput();
}

void Session::ClearAccessMode() {
    matcher_.ClearAccess();
    emit accessModeChanged();
    updateState();
}
