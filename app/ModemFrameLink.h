// The modem link's frame glue: Modem Connect, Disconnect and Configure, the modem
// messages, the call progress window and the modem worker. Handlers on the GUI
// thread; the worker runs the dial and reaches this class only through ModemBridge.
#pragma once

#include <QObject>

#include <memory>
#include <mutex>

class QString;
class CCallProgressWnd;
class CModemLink;
class LinkHost;
class ModemBridge;

class ModemFrameLink : public QObject {
public:
    explicit ModemFrameLink(LinkHost& host);
    ~ModemFrameLink() override;

    // The progress window, the worker's bridge, the link's hooks, writer and enable rules.
    void install();
    CModemLink& link() { return *link_; }
    void OnConnect() { Connect(true); }
    // Without the phone book the link dials the number it dialled last (Reconnect).
    void Connect(bool pickNumber);
    void OnDisconnect();
    // The disconnect without confirmation; also the close order's modem step.
    void DisconnectRoutine();
    void OnConfigure();
    // The close order's last step.
    void DestroyProgressWindow();
    CCallProgressWnd* progressWindow() const { return progressWnd_; }
    bool disconnectBlocked() const;
    bool workerRunning() const;

    void ShowProgress(const QString& text);
    void UpdateProgress(const QString& text);
    void HideProgress();
    // Moves a visible progress window 2 pixels inside the view's top-left corner.
    void PlaceProgressWindow();
    // The modem messages, run on the GUI thread (sent or posted by the modem code).
    void OnModemResult(int connected);        // WM_USER+6
    void OnCallConnectedMsg(int flag);        // WM_USER+7
    void OnModemEstablished();                // WM_USER+8
    void OnCallLost();                        // WM_USER+9
    void OnDisconnectBlockedMsg(int blocked); // WM_USER+11
    void OnShowProgressMsg(int index);        // WM_USER+12
    void OnHideProgressMsg();                 // WM_USER+13
    void OnUpdateProgressMsg(int index);      // WM_USER+14

private:
    LinkHost& host_;
    std::unique_ptr<CModemLink> link_;
    CCallProgressWnd* progressWnd_ = nullptr;  // a child of the frame
    mutable std::mutex lock_;
    int disconnectBlocked_ = 1;  // under lock_
    // Declared last: stops the modem worker before the link it drives goes.
    std::shared_ptr<ModemBridge> bridge_;
};
