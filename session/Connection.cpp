// The session's connection manager: the send routine, the link order, the response and
// wake-up timers. GUI thread, except StopTimersOnArrival and the writers' calls.
#include "session/Session.h"

#include "platform/GuiThread.h"
#include "platform/MessageService.h"
#include "res/resource.h"

#include <QTimer>

#include <cstring>

namespace {
constexpr int kResponseMs = 3330;
constexpr int kWakeupMs = 1770;
} // namespace

void Session::setReceiveSink(ReceiveSink* sink) {
    receiveSink_ = sink;
    telnet_.SetSink(sink);
    // Negotiation replies go to whichever link is connected, unchanged (no doubling).
    telnet_.SetWriter([this](const char* bytes, int count) {
        return WriteReplyToConnectedLink(bytes, count);
    });
}

namespace {
// The first connected link, in link order; -1 none.
int FirstConnected(const std::atomic<int>* flags) {
    for (int k = 0; k < 4; ++k)
        if (flags[k]) return k;
    return -1;
}
} // namespace

bool Session::IsAnyLinkConnected() const { return FirstConnected(linkFlags_) >= 0; }

Session::Writer Session::writerOf(LinkKind kind, bool reply) const {
    std::lock_guard lock(writerLock_);
    const int k = static_cast<int>(kind);
    return reply && replyWriters_[k] ? replyWriters_[k] : linkWriters_[k];
}

void Session::setLinkReplyWriter(LinkKind kind, std::function<int(const char*, int)> writer) {
    Writer w = writer ? std::make_shared<const std::function<int(const char*, int)>>(std::move(writer)) : nullptr;
    std::lock_guard lock(writerLock_);
    // The old writer goes where its last call ends, never inside this lock's holder.
    replyWriters_[static_cast<int>(kind)].swap(w);
}

int Session::WriteReplyToConnectedLink(const char* bytes, int length) {
    const int k = FirstConnected(linkFlags_);
    if (k < 0) return 0;
    const Writer w = writerOf(static_cast<LinkKind>(k), true);
    return w ? (*w)(bytes, length) : 0;
}

void Session::setLinkWriter(LinkKind kind, std::function<int(const char*, int)> writer) {
    Writer w = writer ? std::make_shared<const std::function<int(const char*, int)>>(std::move(writer)) : nullptr;
    std::lock_guard lock(writerLock_);
    linkWriters_[static_cast<int>(kind)].swap(w);
}

bool Session::hasLinkWriter(LinkKind kind) const {
    std::lock_guard lock(writerLock_);
    return linkWriters_[static_cast<int>(kind)] != nullptr;
}

int Session::SendToLink(const char* text, int length, bool startResponseTimer) {
    if (!IsAnyLinkConnected() || length <= 0 || !text) return 1;

    // Only the first and third characters decide; shorter texts never match.
    const bool recovery = length >= 3 && text[0] == 'r';
    if (recovery && text[2] == 'o') {
        if (ShowMessage("Are you sure to execute 'Station Recovery' command ?", "Warning",
                        MsgIcon::Warning, MsgButtons::OkCancel) != IDOK)
            return 1;
    } else if (recovery && text[2] == 'e') {
        if (ShowMessage("Are you sure to execute 'CO Recovery' command ?", "Warning",
                        MsgIcon::Warning, MsgButtons::OkCancel) != IDOK)
            return 1;
    }

    if (startResponseTimer) StartResponseTimer();

    auto write = [&](LinkKind k) {
        const Writer w = writerOf(k, false);
        return w ? (*w)(text, length) : 0;
    };
    if (linkFlag(LinkKind::Serial)) return write(LinkKind::Serial);
    if (linkFlag(LinkKind::Modem)) {
        if (recovery && text[2] == 'g') {
            StopResponseTimer();
            ShowMessage("This command cannot be executed on modem connection...", "Warning",
                        MsgIcon::Warning, MsgButtons::Ok);
            return 1;
        }
        return write(LinkKind::Modem);
    }
    if (linkFlag(LinkKind::Lan)) {
        StopResponseTimer();
        write(LinkKind::Lan);
        return 1;
    }
    if (linkFlag(LinkKind::Isdn)) {
        StopResponseTimer();
        return write(LinkKind::Isdn);
    }
    return 1;
}

int Session::WriteToConnectedLink(const char* text, int length) {
    const int k = FirstConnected(linkFlags_);
    if (k < 0) return 0;
    const Writer w = writerOf(static_cast<LinkKind>(k), false);
    return w ? (*w)(text, length) : 0;
}

int Session::SendLine(const char* text) {
    if (!text) return 0;
    const int length = static_cast<int>(std::strlen(text));
    for (int k = 0; k < 4; ++k) {
        if (!linkFlags_[k]) continue;
        const Writer w = writerOf(static_cast<LinkKind>(k), false);
        if (!w) continue;
        (*w)(text, length);
        (*w)("\r", 1);
        break;
    }
    return 0;
}

void Session::SendWithCarriageReturn(const std::string& line) {
    // The send routine ignores an empty line: a cancelled argument dialog sends only
    // the carriage return.
    SendToLink(line.data(), static_cast<int>(line.size()), true);
    SendToLink("\r", 1, true);
}

void Session::StartResponseTimer() {
    {
        std::lock_guard lock(timerLock_);
        pendingResponse_ |= kResponseBit;
    }
    responseTimer_->start(kResponseMs);
}

void Session::StartWakeupTimer() {
    {
        std::lock_guard lock(timerLock_);
        pendingResponse_ |= kWakeupBit;
    }
    wakeupTimer_->start(kWakeupMs);
}

void Session::stopTimer(unsigned char bit, QTimer* timer) {
    if (!linkFlag(LinkKind::Serial) && !linkFlag(LinkKind::Modem)) {
        if (timer->isActive()) timer->stop();
        return;
    }
    {
        std::lock_guard lock(timerLock_);
        if (!(pendingResponse_ & bit)) return;
        pendingResponse_ &= static_cast<unsigned char>(~bit);
    }
    timer->stop();
}

void Session::StopResponseTimer() { stopTimer(kResponseBit, responseTimer_); }
void Session::StopWakeupTimer() { stopTimer(kWakeupBit, wakeupTimer_); }

void Session::StopTimersOnArrival() {
    if (OnGuiThread()) {
        StopWakeupTimer();
        StopResponseTimer();
        return;
    }
    // A reader thread clears the bits now and lets the GUI thread stop the timers. A
    // timer restarted by a send in between has its bit set again and keeps running.
    // Every start sets its bit, so with no bit set there is no timer to stop.
    {
        std::lock_guard lock(timerLock_);
        if (!(pendingResponse_ & (kResponseBit | kWakeupBit))) return;
        pendingResponse_ = 0;
    }
    PostToGui([this] {
        std::lock_guard lock(timerLock_);
        if (!(pendingResponse_ & kResponseBit)) responseTimer_->stop();
        if (!(pendingResponse_ & kWakeupBit)) wakeupTimer_->stop();
    }, this);
}

bool Session::responseTimerActive() const { return responseTimer_->isActive(); }
bool Session::wakeupTimerActive() const { return wakeupTimer_->isActive(); }

void Session::OnWakeupTimer() {
    {
        // Text that arrived just before the expiry has already answered.
        std::lock_guard lock(timerLock_);
        if (!(pendingResponse_ & kWakeupBit) && (linkFlag(LinkKind::Serial) || linkFlag(LinkKind::Modem))) {
            wakeupTimer_->stop();
            return;
        }
    }
    StopWakeupTimer();
    StartWakeupTimer();
    WriteToConnectedLink("\r", 1);
}

void Session::OnResponseTimer() {
    {
        std::lock_guard lock(timerLock_);
        if (!(pendingResponse_ & kResponseBit) && (linkFlag(LinkKind::Serial) || linkFlag(LinkKind::Modem))) {
            responseTimer_->stop();
            return;
        }
    }
    StopResponseTimer();
    ShowMessage("No response from PMX...", "Connection Warning", MsgIcon::Warning, MsgButtons::Ok);
}
