// One run of pmxdiag-run: a session without a display, driven from connect to log-out.
// The headless face of the session: the password comes from a file or the environment,
// the phone book's go-ahead is given, the call progress and passing messages are kept
// for the one line that ends a failed run, and the switch's text goes to standard output.
// The outcome is one exit code (RunOptions.h). GUI thread, except the text hand-over.
#pragma once

#include "runner/RunOptions.h"
#include "session/SessionFace.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QTimer;
class HeadlessScreen;
class Session;

namespace runner {

class HeadlessMessages;

class HeadlessRun final : public QObject, public SessionFace {
    Q_OBJECT
public:
    // options: an --entry comes as --modem with the entry's number. commands: read as a
    // script file's; none: the run ends once logged in.
    HeadlessRun(const RunOptions& options, HeadlessMessages& messages, std::optional<std::string> password,
                std::vector<std::string> commands);
    ~HeadlessRun() override;

    // Starts the capture (if asked) and the connect; finished() carries the exit code.
    void start();
    // Ends the run from outside (a signal): closes as after a failure.
    void interrupt(const QString& why);
    Session& session() { return *session_; }

signals:
    void finished(int exitCode);

private:
    // SessionFace
    std::optional<std::string> askPassword() override;
    bool askPhoneBook(CModemLink&) override { return true; }
    void showCallProgress(const QString& text) override { message_ = text; }
    void updateCallProgress(const QString& text) override { message_ = text; }
    void hideCallProgress() override {}
    void stateChanged() override;
    void loggedOut() override {}
    void screenCleared() override {}
    void noticeChanged(const QString& notice) override;
    void showMessage(const QString& text) override { message_ = text; }
    QString message() const override { return message_; }
    void clearMessage() override { message_.clear(); }
    void focusInput() override {}

    enum class Phase { Idle, Connecting, LoggingIn, Running, Closing };

    bool connectLink();
    void check();
    void onAccessChanged();
    void onScriptEnded(const QString& why);
    // The first outcome counts; line (if not empty) is its one line on standard error.
    void finish(int code, const QString& line);
    void close();
    void writeOut(const char* text, size_t length);

    const RunOptions options_;
    HeadlessMessages& messages_;
    const std::optional<std::string> password_;
    const std::vector<std::string> commands_;
    Phase phase_ = Phase::Idle;
    int exitCode_ = kExitDone;
    int passwordsAsked_ = 0;
    bool checkQueued_ = false;
    bool reached_ = false;  // the Connect reached its switch
    QString message_;
    QString notice_;
    QTimer* connectTimer_ = nullptr;
    QTimer* connectPoll_ = nullptr;
    QTimer* loginTimer_ = nullptr;
    std::atomic<bool> stdoutOpen_{true};  // written on the delivering thread

    std::unique_ptr<Session> session_;
    std::unique_ptr<HeadlessScreen> screen_;  // the session's display; goes first
};

} // namespace runner
