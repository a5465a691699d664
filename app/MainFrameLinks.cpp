// The connection manager of the main frame: the send routine, the link order, the
// response and wake-up timers. GUI thread, except StopTimersOnArrival.
#include "app/CMainFrame.h"

#include "platform/GuiThread.h"
#include "platform/MessageService.h"
#include "res/resource.h"

#include <QTimer>

#include <cstring>

namespace {
constexpr int kResponseMs = 3330;
constexpr int kWakeupMs = 1770;
} // namespace

void CMainFrame::setReceiveSink(ReceiveSink* sink) {
    receiveSink_ = sink;
    telnet_.SetSink(sink);
    // Negotiation replies go to whichever link is connected, unchanged (no doubling).
    telnet_.SetWriter([this](const char* bytes, int count) {
        return WriteReplyToConnectedLink(bytes, count);
    });
}

void CMainFrame::setLinkReplyWriter(LinkKind kind, std::function<int(const char*, int)> writer) {
    replyWriters_[static_cast<int>(kind)] = std::move(writer);
}

int CMainFrame::WriteReplyToConnectedLink(const char* bytes, int length) {
    const std::atomic<int>* flags[] = {&linkFlag(LinkKind::Serial), &linkFlag(LinkKind::Modem), &linkFlag(LinkKind::Lan),
                                       &linkFlag(LinkKind::Isdn)};
    for (int k = 0; k < 4; ++k) {
        if (!*flags[k]) continue;
        if (replyWriters_[k]) return replyWriters_[k](bytes, length);
        return linkWriters_[k] ? linkWriters_[k](bytes, length) : 0;
    }
    return 0;
}

void CMainFrame::setLinkWriter(LinkKind kind, std::function<int(const char*, int)> writer) {
    linkWriters_[static_cast<int>(kind)] = std::move(writer);
}

bool CMainFrame::hasLinkWriter(LinkKind kind) const {
    return static_cast<bool>(linkWriters_[static_cast<int>(kind)]);
}

int CMainFrame::SendToLink(const char* text, int length, bool startResponseTimer) {
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
        auto& w = linkWriters_[static_cast<int>(k)];
        return w ? w(text, length) : 0;
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

int CMainFrame::WriteToConnectedLink(const char* text, int length) {
    const std::atomic<int>* flags[] = {&linkFlag(LinkKind::Serial), &linkFlag(LinkKind::Modem), &linkFlag(LinkKind::Lan),
                                       &linkFlag(LinkKind::Isdn)};
    for (int k = 0; k < 4; ++k) {
        if (*flags[k]) return linkWriters_[k] ? linkWriters_[k](text, length) : 0;
    }
    return 0;
}

int CMainFrame::SendLine(const char* text) {
    if (!text) return 0;
    const std::string line = std::string(text) + '\r';  // one write, as for commands
    const std::atomic<int>* flags[] = {&linkFlag(LinkKind::Serial), &linkFlag(LinkKind::Modem), &linkFlag(LinkKind::Lan),
                                       &linkFlag(LinkKind::Isdn)};
    for (int k = 0; k < 4; ++k) {
        if (*flags[k] && linkWriters_[k]) {
            linkWriters_[k](line.data(), static_cast<int>(line.size()));
            break;
        }
    }
    return 0;
}

void CMainFrame::StartResponseTimer() {
    {
        std::lock_guard lock(timerLock_);
        pendingResponse_ |= kResponseBit;
    }
    responseTimer_->start(kResponseMs);
}

void CMainFrame::StartWakeupTimer() {
    {
        std::lock_guard lock(timerLock_);
        pendingResponse_ |= kWakeupBit;
    }
    wakeupTimer_->start(kWakeupMs);
}

void CMainFrame::stopTimer(unsigned char bit, QTimer* timer) {
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

void CMainFrame::StopResponseTimer() { stopTimer(kResponseBit, responseTimer_); }
void CMainFrame::StopWakeupTimer() { stopTimer(kWakeupBit, wakeupTimer_); }

void CMainFrame::StopTimersOnArrival() {
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

bool CMainFrame::responseTimerActive() const { return responseTimer_->isActive(); }
bool CMainFrame::wakeupTimerActive() const { return wakeupTimer_->isActive(); }

void CMainFrame::OnWakeupTimer() {
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

void CMainFrame::OnResponseTimer() {
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
