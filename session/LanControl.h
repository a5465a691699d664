// The LAN link's controller: Connect and Disconnect, and the session's side of the
// LAN worker's reports. All on the GUI thread, except the received blocks,
// which are decoded on the worker.
#pragma once

#include <QObject>

#include <memory>
#include <vector>

class CSocketThread;
class LinkHost;
class SocketOwner;

class LanControl : public QObject {
public:
    explicit LanControl(LinkHost& host);
    ~LanControl() override;

    void OnConnect();      // 32852
    void OnDisconnect();   // 32853
    // What the socket window reports (SWM_CONNECTED ... SWM_ERROR), on the GUI thread.
    void OnConnected();
    void OnClosed();
    // Received bytes, on the LAN worker thread: decoded and laid out there, as a read
    // thread does, so that a flood never holds the GUI thread.
    void OnReceived(const char* bytes, int length);
    void OnError(int code);
    // The connect attempt has ended (after SWM_CONNECTED or the failure's reports).
    void OnConnectDone();
    // A LAN Connect is looking up or connecting.
    bool connecting() const { return connecting_; }
    // The current LAN worker, or null.
    CSocketThread* thread() const { return thread_.get(); }
    // The pause after posting the close and after ending the worker (1000 ms each).
    void setDisconnectWaitMs(int ms) { disconnectWaitMs_ = ms; }
    // Ends the current worker (if any) and forgets it; the link is then closed.
    void EndWorker();
    void PurgeRetiredWorkers();

private:
    class FrameSocketOwner;
    LinkHost& host_;
    int disconnectWaitMs_ = 1000;
    bool connecting_ = false;
    bool closingByUser_ = false;  // LAN Disconnect is closing the socket
    unsigned generation_ = 0;
    std::shared_ptr<FrameSocketOwner> owner_;
    // Workers that did not end at once (still inside a call into the session).
    struct RetiredWorker {
        std::shared_ptr<SocketOwner> owner;  // the worker reports to it until it ends
        std::shared_ptr<CSocketThread> thread;  // destroyed first
    };
    std::vector<RetiredWorker> retired_;
    // Declared last: destroyed first, while everything it reports to still exists.
    std::shared_ptr<CSocketThread> thread_;
};
