// A face for session tests: records what the session asked of a person and answers
// from its fields; and a session on it, for tests that need no screen.
#pragma once

#include "links/CModemLink.h"
#include "session/Session.h"
#include "session/SessionFace.h"

class RecordingFace : public SessionFace {
public:
    std::optional<std::string> askPassword() override {
        ++passwords;
        return password;
    }
    bool askPhoneBook(CModemLink& modem) override {
        modem.SetDestination(number.c_str());
        return true;
    }
    void showCallProgress(const QString&) override { ++progress; }
    void updateCallProgress(const QString&) override {}
    void hideCallProgress() override {}
    void stateChanged() override {}
    void loggedOut() override { ++loggedOuts; }
    void screenCleared() override {}
    void noticeChanged(const QString&) override {}
    void showMessage(const QString& text) override { message_ = text; }
    QString message() const override { return message_; }
    void clearMessage() override { message_.clear(); }
    void focusInput() override {}

    std::optional<std::string> password = "velmod";  // nothing: Esc
    std::string number = "0221 555 0100";
    int passwords = 0, progress = 0, loggedOuts = 0;

private:
    QString message_;
};

// A session on a recording face (tests written for the frame call session() on it).
struct BareSession {
    RecordingFace face;
    Session bare{face};
    Session& session() { return bare; }
};
