// Modem Connect, Modem Disconnect and Modem Configure on the main frame, the modem
// messages, the call progress window and the modem worker. Handlers on the GUI
// thread; the worker runs the dial and reaches the frame only through ModemBridge.
#include "app/CMainFrame.h"

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
#include "terminal/CTRQDiagView.h"

#include <QAction>
#include <QEvent>

#include <condition_variable>
#include <thread>

using namespace modemtext;

// The frame's side of the modem link's messages, and the modem worker. Each call
// attempt has a number; once the user abandons it (Modem Disconnect while the call
// is being placed) the worker's sent messages stop waiting and its posted ones are
// dropped on arrival, so the worker reports nothing afterwards.
class ModemBridge : public QObject, public ModemEvents {
public:
    explicit ModemBridge(CMainFrame& frame) : frame_(frame) { frame_.installEventFilter(this); }
    ~ModemBridge() override {
        frame_.removeEventFilter(this);
        Abandon();
        Join();
        frame_.modemLink().SetEvents(nullptr);
    }

    void StartWorker() {
        Join();  // a previous worker that has reported
        {
            std::lock_guard lock(mutex_);
            abandoned_ = false;
            ++attempt_;
        }
        running_ = true;
        worker_ = std::thread([this] {
            const int ok = frame_.modemLink().Connect(true);
            Send([this, ok] { frame_.OnModemResult(ok); });
            running_ = false;
            PostToGui([this] { JoinIfEnded(); }, &frame_);
        });
    }
    // The current attempt reports nothing more; a worker waiting on the GUI goes on.
    void Abandon() {
        std::lock_guard lock(mutex_);
        abandoned_ = true;
        answered_.notify_all();
    }
    void Join() {
        if (worker_.joinable()) worker_.join();
        running_ = false;
    }
    void JoinIfEnded() {
        if (!running_ && worker_.joinable()) worker_.join();
    }
    bool running() const { return running_; }

    void PostShowProgress(int index) override { Post([this, index] { frame_.OnShowProgressMsg(index); }); }
    void PostHideProgress() override { Post([this] { frame_.OnHideProgressMsg(); }); }
    void PostUpdateProgress(int index) override { Post([this, index] { frame_.OnUpdateProgressMsg(index); }); }
    void PostDisconnectBlocked(int blocked) override {
        Post([this, blocked] { frame_.OnDisconnectBlockedMsg(blocked); });
    }
    void SendCallConnected(int flag) override { Send([this, flag] { frame_.OnCallConnectedMsg(flag); }); }
    void PostEstablished() override { Post([this] { frame_.OnModemEstablished(); }); }
    void SendCallLost() override { Send([this] { frame_.OnCallLost(); }); }
    void SendMessageBox(const char* text, const char* title, MsgIcon icon) override {
        std::string t(text), c(title);
        Send([t, c, icon] { ShowMessage(t, c, icon, MsgButtons::Ok); });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &frame_ &&
            (event->type() == QEvent::WindowActivate || event->type() == QEvent::Resize ||
             event->type() == QEvent::Move))
            frame_.PlaceProgressWindow();
        return false;
    }

private:
    // Only the worker's messages belong to an attempt; the GUI thread's own are never dropped.
    bool Current(uint64_t attempt) {
        std::lock_guard lock(mutex_);
        return attempt == 0 || (attempt == attempt_ && !abandoned_);
    }
    void Post(std::function<void()> fn) {
        uint64_t attempt = 0;
        if (!OnGuiThread()) {
            std::lock_guard lock(mutex_);
            attempt = attempt_;
        }
        PostToGui([this, attempt, fn = std::move(fn)] {
            if (Current(attempt)) fn();
        }, &frame_);
    }
    void Send(std::function<void()> fn) {
        if (OnGuiThread()) {
            fn();
            return;
        }
        auto done = std::make_shared<bool>(false);
        uint64_t attempt;
        {
            std::lock_guard lock(mutex_);
            if (abandoned_) return;
            attempt = attempt_;
        }
        PostToGui([this, attempt, done, fn = std::move(fn)] {
            if (Current(attempt)) fn();
            std::lock_guard lock(mutex_);
            *done = true;
            answered_.notify_all();
        }, &frame_);
        std::unique_lock lock(mutex_);
        answered_.wait(lock, [&] { return *done || abandoned_ || attempt != attempt_; });
    }

    CMainFrame& frame_;
    std::thread worker_;
    std::atomic<bool> running_{false};
    std::mutex mutex_;
    std::condition_variable answered_;
    uint64_t attempt_ = 0;   // under mutex_
    bool abandoned_ = false; // under mutex_
};

void CMainFrame::registerModemCommands() {
    progressWnd_ = new CCallProgressWnd(this);
    progressWnd_->hide();
    modemBridge_ = std::make_shared<ModemBridge>(*this);
    modemLink_->SetEvents(modemBridge_.get());
    modemLink_->SetReceiver(receiveSink());
    // A hang-up that meets the reader waiting for the password dialog releases it.
    modemLink_->SetCloseWaitPump([this] { CancelPasswordRequest(); });
    // The modem's port failed under an online call: the call is over. It is hung up
    // quietly and the user told once, in the status bar.
    modemLink_->SetPortLostHandler([this](int) {
        PostToGui([this] {
            if (!linkFlag(LinkKind::Modem) || !modemLink_->CallConnected()) return;
            HideProgress();
            modemBridge_->Abandon();
            modemLink_->Hangup(false);
            modemBridge_->Join();
            linkFlag(LinkKind::Modem) = 0;
            OnLinkEnded(QStringLiteral("Modem line dropped; the call is over."));
        }, this);
    });
    setLinkWriter(LinkKind::Modem, [this](const char* text, int length) {
        return modemLink_->Write(text, length);
    });
    SetLineConfigHook([](TelephonyModem& modem, void* owner) {
        CLineConfigDlg dlg(modem, static_cast<QWidget*>(owner));
        if (RunModal(dlg) != QDialog::Accepted) return false;
        modem = dlg.modem();
        return true;
    });

    setEnableRule(ID_MODEM_CONNECT, [this] { return !IsAnyLinkConnected(); });
    setEnableRule(ID_MODEM_CONFIGURE, [this] { return !IsAnyLinkConnected(); });
    setEnableRule(ID_MODEM_DISCONNECT, [this] {
        return linkFlag(LinkKind::Modem) && !linkFlag(LinkKind::Serial) && !linkFlag(LinkKind::Lan) && !linkFlag(LinkKind::Isdn) &&
               !modemDisconnectBlocked();
    });
    connect(action(ID_MODEM_CONNECT), &QAction::triggered, this, &CMainFrame::OnModemConnect);
    connect(action(ID_MODEM_DISCONNECT), &QAction::triggered, this, &CMainFrame::OnModemDisconnect);
    connect(action(ID_MODEM_CONFIGURE), &QAction::triggered, this, &CMainFrame::OnModemConfigure);

    closeModemOnExit_ = [this] { ModemDisconnectRoutine(); };
    destroyProgressWindow_ = [this] {
        delete progressWnd_;
        progressWnd_ = nullptr;
    };
}

bool CMainFrame::modemDisconnectBlocked() const {
    std::lock_guard lock(linkLock_);
    return modemDisconnectBlocked_ != 0;
}

bool CMainFrame::modemWorkerRunning() const { return modemBridge_ && modemBridge_->running(); }

void CMainFrame::OnModemConnect() { ModemConnect(true); }

void CMainFrame::ModemConnect(bool pickNumber) {
    if (!modemLink_ || IsAnyLinkConnected()) return;
    if (CModemLink::ConfiguredDevice() == -1) {
        ShowMessage(kNotConfiguredText, kNotConfiguredTitle, MsgIcon::Warning);
        return;
    }
    // Without the phone book the link dials the number it dialled last.
    if (pickNumber && ShowPhoneBook(this, *modemLink_) != IDOK) return;
    OnClearNew();
    linkFlag(LinkKind::Modem) = 1;
    OnDisconnectBlockedMsg(1);
    modemBridge_->StartWorker();
    focusInputEdit();
    updateCommandUi();
}

void CMainFrame::OnModemDisconnect() {
    if (ShowMessage(kDisconnectQuestion, kDisconnectQuestionTitle, MsgIcon::Question,
                    MsgButtons::YesNo) != IDYES)
        return;
    StopCaptureIfRunning();
    ModemDisconnectRoutine();
    OnClearNew();
}

void CMainFrame::ModemDisconnectRoutine() {
    HideProgress();
    if (!modemLink_) return;
    StopWakeupTimer();
    StopResponseTimer();
    // A call still being placed is abandoned first, so that nothing it would still
    // report (a failure box, a second hang-up) reaches the user after this.
    modemBridge_->Abandon();
    if (!modemLink_->Connect(false)) {
        linkFlag(LinkKind::Modem) = 1;
        ShowMessage(kDisconnectFailedText, kDisconnectFailedTitle, MsgIcon::Error);
        updateCommandUi();
        return;
    }
    modemBridge_->Join();
    linkFlag(LinkKind::Modem) = 0;
    updateCommandUi();
}

void CMainFrame::OnModemConfigure() {
    if (!modemLink_ || IsAnyLinkConnected()) return;
    modemLink_->ConfigureModem([this](const std::vector<ModemEntry>& entries) {
        CModemConfigDlg dlg(entries, this);
        RunModal(dlg);
    });
}

void CMainFrame::OnModemResult(int connected) {
    if (connected) {
        linkFlag(LinkKind::Modem) = 1;
    } else {
        linkFlag(LinkKind::Modem) = 0;
        ShowMessage(kConnectFailedText, kConnectFailedTitle, MsgIcon::Error);
        if (modemLink_) modemLink_->Connect(false);
    }
    updateCommandUi();
}

void CMainFrame::OnCallConnectedMsg(int flag) {
    if (modemLink_) modemLink_->SetCallConnected(flag);
}

void CMainFrame::OnModemEstablished() {
    if (!modemLink_) return;
    const std::string number = modemLink_->GetDestination();
    const std::string format = kEstablishedText;
    const size_t at = format.find("%s");
    const std::string text = format.substr(0, at) + number + format.substr(at + 2);
    NoteLinkConnected(LinkKind::Modem);
    ShowMessage(text, kEstablishedTitle, MsgIcon::Information);
    // The switch may be asleep: a carriage return now and every 1770 ms until it answers.
    StartWakeupTimer();
    WriteToConnectedLink("\r", 1);
}

void CMainFrame::OnCallLost() {
    HideProgress();
    if (!modemLink_) return;
    StopWakeupTimer();
    StopResponseTimer();
    if (modemLink_->CallConnected()) modemLink_->Hangup(true);
    else modemLink_->SetDialWait(0);
    updateCommandUi();
}

void CMainFrame::OnDisconnectBlockedMsg(int blocked) {
    {
        std::lock_guard lock(linkLock_);
        modemDisconnectBlocked_ = blocked;
    }
    updateCommandUi();
}

namespace {
QString ProgressText(int index) {
    if (index < 1 || index > 13) return QString();
    return QString::fromLatin1(kProgressTexts[index]);
}
} // namespace

void CMainFrame::OnShowProgressMsg(int index) { ShowProgress(ProgressText(index)); }

void CMainFrame::OnHideProgressMsg() { HideProgress(); }

void CMainFrame::OnUpdateProgressMsg(int index) {
    if (index >= 1 && index <= 13) UpdateProgress(ProgressText(index));
}

void CMainFrame::ShowProgress(const QString& text) {
    if (!progressWnd_ || progressWnd_->isVisible()) return;
    progressWnd_->show();
    PlaceProgressWindow();
    progressWnd_->SetText(text);
}

void CMainFrame::UpdateProgress(const QString& text) {
    if (progressWnd_ && progressWnd_->isVisible()) progressWnd_->SetText(text);
}

void CMainFrame::HideProgress() {
    if (progressWnd_ && progressWnd_->isVisible()) progressWnd_->hide();
}

void CMainFrame::PlaceProgressWindow() {
    if (!progressWnd_ || !progressWnd_->isVisible() || !view_) return;
    progressWnd_->move(view_->mapToGlobal(QPoint(2, 2)));
    progressWnd_->raise();
}
