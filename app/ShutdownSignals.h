// SIGTERM, SIGHUP and SIGINT (log-out, shut-down, Ctrl+C) end the program the way
// File > Exit does, without its boxes. The handler only writes the signal's number
// to a pipe; a socket notifier reads it on the GUI thread and runs the action there.
#pragma once

#include "platform/MessageService.h"

#include <QObject>

#include <functional>

class QSocketNotifier;

class ShutdownSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; action runs on the GUI thread, once per signal caught.
    // A second signal of the same kind while the first is handled ends the program
    // at once (the default action is back after the first).
    explicit ShutdownSignals(std::function<void(int signal)> action, QObject* parent = nullptr);
    // Restores the default actions.
    ~ShutdownSignals() override;
    bool installed() const { return notifier_ != nullptr; }

private:
    void readPipe();
    int readFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    std::function<void(int)> action_;
};

// While it exists, boxes are not shown: their texts go to standard error and each
// is answered with its first button (OK, Yes, Retry), as nobody is there to answer.
class QuietMessages : public MessageService {
public:
    QuietMessages();
    ~QuietMessages() override;
    int messageBox(const std::string& text, const std::string& title, MsgIcon icon,
                   MsgButtons buttons) override;
    std::optional<std::string> saveFileName(const SaveFileRequest&) override { return std::nullopt; }

private:
    MessageService& previous_;
};
