// The modem link's frame glue. Handlers on the GUI thread; the worker runs the dial
// and reaches the glue only through ModemBridge.
#include "app/ModemFrameLink.h"

#include "app/LinkHost.h"

#include "platform/DialogRunner.h"
#include "platform/GuiThread.h"
#include "platform/MessageService.h"
#include "links/CCallProgressWnd.h"
#include "links/CLineConfigDlg.h"
#include "links/CModemConfigDlg.h"
#include "links/CModemLink.h"
#include "links/ModemTexts.h"
#include "phonebook/CPhoneBookDlg.h"
#include "res/resource.h"

#include <QEvent>

#include <atomic>
#include <thread>

using namespace modemtext;

// The frame's side of the modem link's messages, and the modem worker. Each call
// attempt reports through a lane of its own; once the user abandons it (Modem
// Disconnect while the call is being placed) the lane is closed: the worker's sent
// messages stop waiting and its queued ones are dropped, so it reports nothing afterwards.
class ModemBridge : public QObject, public ModemEvents {
public:
    ModemBridge(ModemFrameLink& frame, QWidget* window) : glue_(frame), window_(window) {
        window_->installEventFilter(this);
    }
    ~ModemBridge() override {
        window_->removeEventFilter(this);
        Abandon();
        Join();
        glue_.link().SetEvents(nullptr);
    }

    void StartWorker() {
        Join();  // a previous worker that has reported
        lane_.OpenToGui();  // what the previous attempt left queued is dropped
        running_ = true;
        worker_ = std::thread([this] {
            const int ok = glue_.link().Connect(true);
            Send([this, ok] { glue_.OnModemResult(ok); });
            running_ = false;
            PostToGui([this] { JoinIfEnded(); }, &glue_);
        });
    }
    // The current attempt reports nothing more; a worker waiting on the GUI goes on.
    void Abandon() { lane_.Close(); }
    void Join() {
        if (worker_.joinable()) worker_.join();
        running_ = false;
    }
    void JoinIfEnded() {
        if (!running_ && worker_.joinable()) worker_.join();
    }
    bool running() const { return running_; }

    void PostShowProgress(int index) override { Post([this, index] { glue_.OnShowProgressMsg(index); }); }
    void PostHideProgress() override { Post([this] { glue_.OnHideProgressMsg(); }); }
    void PostUpdateProgress(int index) override { Post([this, index] { glue_.OnUpdateProgressMsg(index); }); }
    void PostDisconnectBlocked(int blocked) override {
        Post([this, blocked] { glue_.OnDisconnectBlockedMsg(blocked); });
    }
    void SendCallConnected(int flag) override { Send([this, flag] { glue_.OnCallConnectedMsg(flag); }); }
    void PostEstablished() override { Post([this] { glue_.OnModemEstablished(); }); }
    void SendCallLost() override { Send([this] { glue_.OnCallLost(); }); }
    void SendMessageBox(const char* text, const char* title, MsgIcon icon) override {
        std::string t(text), c(title);
        Send([t, c, icon] { ShowMessage(t, c, icon, MsgButtons::Ok); });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ &&
            (event->type() == QEvent::WindowActivate || event->type() == QEvent::Resize ||
             event->type() == QEvent::Move))
            glue_.PlaceProgressWindow();
        return false;
    }

private:
    // Only the worker's messages belong to an attempt; the GUI thread's own are never dropped.
    void Post(std::function<void()> fn) {
        if (OnGuiThread()) PostToGui(std::move(fn), &glue_);
        else lane_.Post(std::move(fn), &glue_);
    }
    void Send(std::function<void()> fn) {
        if (OnGuiThread()) fn();
        else lane_.Send(std::move(fn));
    }

    ModemFrameLink& glue_;
    QWidget* window_;  // the frame: the progress window follows it
    std::thread worker_;
    std::atomic<bool> running_{false};
    ThreadLane lane_;  // the current attempt's reports
};

ModemFrameLink::ModemFrameLink(LinkHost& host) : host_(host), link_(std::make_unique<CModemLink>()) {}

ModemFrameLink::~ModemFrameLink() = default;

void ModemFrameLink::install() {
    progressWnd_ = new CCallProgressWnd(host_.dialogParent());
    progressWnd_->hide();
    bridge_ = std::make_shared<ModemBridge>(*this, host_.dialogParent());
    link_->SetEvents(bridge_.get());
    link_->SetReceiver(host_.receiveSink());
    // A hang-up that meets the reader waiting for the password dialog releases it.
    link_->SetCloseWaitPump([this] { host_.CancelPasswordRequest(); });
    // The modem's port failed under an online call: the call is over. It is hung up
    // quietly and the user told once, in the status bar.
    link_->SetPortLostHandler([this](int) {
        PostToGui([this] {
            if (!host_.isLinkConnected(LinkKind::Modem) || !link_->CallConnected()) return;
            HideProgress();
            bridge_->Abandon();
            link_->Hangup(false);
            bridge_->Join();
            host_.setLinkConnected(LinkKind::Modem, false);
            host_.OnLinkEnded(QStringLiteral("Modem line dropped; the call is over."));
        }, this);
    });
    host_.setLinkWriter(LinkKind::Modem, [this](const char* text, int length) {
        return link_->Write(text, length);
    });
    SetLineConfigHook([](TelephonyModem& modem, void* owner) {
        CLineConfigDlg dlg(modem, static_cast<QWidget*>(owner));
        if (RunModal(dlg) != QDialog::Accepted) return false;
        modem = dlg.modem();
        return true;
    });

    host_.setEnableRule(ID_MODEM_CONNECT, [this] { return !host_.IsAnyLinkConnected(); });
    host_.setEnableRule(ID_MODEM_CONFIGURE, [this] { return !host_.IsAnyLinkConnected(); });
    host_.setEnableRule(ID_MODEM_DISCONNECT, [this] {
        return host_.isLinkConnected(LinkKind::Modem) && !host_.isLinkConnected(LinkKind::Serial) &&
               !host_.isLinkConnected(LinkKind::Lan) && !host_.isLinkConnected(LinkKind::Isdn) && !disconnectBlocked();
    });
}

void ModemFrameLink::DestroyProgressWindow() {
    delete progressWnd_;
    progressWnd_ = nullptr;
}

bool ModemFrameLink::disconnectBlocked() const {
    std::lock_guard lock(lock_);
    return disconnectBlocked_ != 0;
}

bool ModemFrameLink::workerRunning() const { return bridge_ && bridge_->running(); }

void ModemFrameLink::Connect(bool pickNumber) {
    if (!link_ || host_.IsAnyLinkConnected()) return;
    if (CModemLink::ConfiguredDevice() == -1) {
        ShowMessage(kNotConfiguredText, kNotConfiguredTitle, MsgIcon::Warning);
        return;
    }
    // Without the phone book the link dials the number it dialled last.
    if (pickNumber && ShowPhoneBook(host_.dialogParent(), *link_) != IDOK) return;
    host_.OnClearNew();
    host_.setLinkConnected(LinkKind::Modem, true);
    OnDisconnectBlockedMsg(1);
    bridge_->StartWorker();
    host_.focusInputEdit();
    host_.updateCommandUi();
}

void ModemFrameLink::OnDisconnect() {
    if (ShowMessage(kDisconnectQuestion, kDisconnectQuestionTitle, MsgIcon::Question,
                    MsgButtons::YesNo) != IDYES)
        return;
    host_.StopCaptureIfRunning();
    DisconnectRoutine();
    host_.OnClearNew();
}

void ModemFrameLink::DisconnectRoutine() {
    HideProgress();
    if (!link_) return;
    host_.StopWakeupTimer();
    host_.StopResponseTimer();
    // A call still being placed is abandoned first, so that nothing it would still
    // report (a failure box, a second hang-up) reaches the user after this.
    bridge_->Abandon();
    if (!link_->Connect(false)) {
        host_.setLinkConnected(LinkKind::Modem, true);
        ShowMessage(kDisconnectFailedText, kDisconnectFailedTitle, MsgIcon::Error);
        host_.updateCommandUi();
        return;
    }
    bridge_->Join();
    host_.setLinkConnected(LinkKind::Modem, false);
    host_.updateCommandUi();
}

void ModemFrameLink::OnConfigure() {
    if (!link_ || host_.IsAnyLinkConnected()) return;
    link_->ConfigureModem([this](const std::vector<ModemEntry>& entries) {
        CModemConfigDlg dlg(entries, host_.dialogParent());
        RunModal(dlg);
    });
}

void ModemFrameLink::OnModemResult(int connected) {
    if (connected) {
        host_.setLinkConnected(LinkKind::Modem, true);
    } else {
        host_.setLinkConnected(LinkKind::Modem, false);
        ShowMessage(kConnectFailedText, kConnectFailedTitle, MsgIcon::Error);
        if (link_) link_->Connect(false);
    }
    host_.updateCommandUi();
}

void ModemFrameLink::OnCallConnectedMsg(int flag) {
    if (link_) link_->SetCallConnected(flag);
}

void ModemFrameLink::OnModemEstablished() {
    if (!link_) return;
    const std::string number = link_->GetDestination();
    const std::string format = kEstablishedText;
    const size_t at = format.find("%s");
    const std::string text = format.substr(0, at) + number + format.substr(at + 2);
    host_.NoteLinkConnected(LinkKind::Modem);
    ShowMessage(text, kEstablishedTitle, MsgIcon::Information);
    // The switch may be asleep: a carriage return now and every 1770 ms until it answers.
    host_.StartWakeupTimer();
    host_.WriteToConnectedLink("\r", 1);
}

void ModemFrameLink::OnCallLost() {
    HideProgress();
    if (!link_) return;
    host_.StopWakeupTimer();
    host_.StopResponseTimer();
    if (link_->CallConnected()) link_->Hangup(true);
    else link_->SetDialWait(0);
    host_.updateCommandUi();
}

void ModemFrameLink::OnDisconnectBlockedMsg(int blocked) {
    {
        std::lock_guard lock(lock_);
        disconnectBlocked_ = blocked;
    }
    host_.updateCommandUi();
}

namespace {
QString ProgressText(int index) {
    if (index < 1 || index > 13) return QString();
    return QString::fromLatin1(kProgressTexts[index]);
}
} // namespace

void ModemFrameLink::OnShowProgressMsg(int index) { ShowProgress(ProgressText(index)); }

void ModemFrameLink::OnHideProgressMsg() { HideProgress(); }

void ModemFrameLink::OnUpdateProgressMsg(int index) {
    if (index >= 1 && index <= 13) UpdateProgress(ProgressText(index));
}

void ModemFrameLink::ShowProgress(const QString& text) {
    if (!progressWnd_ || progressWnd_->isVisible()) return;
    progressWnd_->show();
    PlaceProgressWindow();
    progressWnd_->SetText(text);
}

void ModemFrameLink::UpdateProgress(const QString& text) {
    if (progressWnd_ && progressWnd_->isVisible()) progressWnd_->SetText(text);
}

void ModemFrameLink::HideProgress() {
    if (progressWnd_ && progressWnd_->isVisible()) progressWnd_->hide();
}

void ModemFrameLink::PlaceProgressWindow() {
    QWidget* view = host_.viewWidget();
    if (!progressWnd_ || !progressWnd_->isVisible() || !view) return;
    progressWnd_->move(view->mapToGlobal(QPoint(2, 2)));
    progressWnd_->raise();
}
