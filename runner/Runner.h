// One run of pmxdiag-run: a session on a face without a display. Connects, logs in with
// the given password, sends the commands as a script (each when the prompt is back),
// writes the trace, disconnects, and answers with an exit code. Boxes become one line on
// standard error, answered with their first button.
#pragma once

#include "platform/MessageService.h"
#include "platform/Profile.h"
#include "runner/RunOptions.h"
#include "session/SessionFace.h"

#include <QObject>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class HeadlessScreen;
class QTimer;
class Session;

// Settings as stored, with the run's own values over them; nothing is written back.
class OverlayProfile : public Profile {
public:
    explicit OverlayProfile(Profile& stored) : stored_(stored) {}
    int getInt(const std::string& section, const std::string& key, int defaultValue) override;
    std::string getString(const std::string& section, const std::string& key,
                          const std::string& defaultValue) override;
    bool writeInt(const std::string& section, const std::string& key, int value) override;
    bool writeString(const std::string& section, const std::string& key, const std::string& value) override;

private:
    Profile& stored_;
    MemoryProfile own_;
};

class HeadlessRun : public QObject, private SessionFace, private MessageService {
public:
    // name: how the switch is named on standard error.
    HeadlessRun(const RunOptions& options, std::string password, std::vector<std::string> commands,
                std::string name, std::string number);
    ~HeadlessRun() override;
    // Runs the event loop until the run ends; the exit code.
    int Run();

private:
    std::optional<std::string> askPassword() override;
    bool askPhoneBook(CModemLink& modem) override;
    void showCallProgress(const QString& text) override;
    void updateCallProgress(const QString& text) override;
    void hideCallProgress() override {}
    void stateChanged() override {}
    void loggedOut() override {}
    void screenCleared() override {}
    void noticeChanged(const QString& notice) override;
    void showMessage(const QString& text) override;
    QString message() const override { return message_; }
    void clearMessage() override { message_.clear(); }
    void focusInput() override {}
    int messageBox(const std::string& text, const std::string& title, MsgIcon icon, MsgButtons buttons) override;
    std::optional<std::string> saveFileName(const SaveFileRequest&) override { return std::nullopt; }

    // One line on standard error; progress is left out of a failed connect's line.
    void Say(const std::string& text, bool progress = false);
    void ReleaseHeld();
    void Connect();
    void Tick();
    void Finish(int code, const std::string& why);

    enum class Stage { Connecting, LoggingIn, Running, Done };
    RunOptions options_;
    std::string password_;
    std::vector<std::string> commands_;
    std::string name_;
    std::string number_;
    QString message_;
    std::vector<std::pair<bool, std::string>> held_;  // said while connecting (progress?, line)
    Stage stage_ = Stage::Connecting;
    bool reached_ = false;
    int passwordsAsked_ = 0;
    qint64 deadlineMs_ = 0;
    int exitCode_ = kDone;
    std::unique_ptr<Session> session_;
    std::unique_ptr<HeadlessScreen> screen_;
    QTimer* tick_ = nullptr;
};
