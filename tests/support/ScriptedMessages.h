// A message service for tests: records every box and answers from a script.
#pragma once

#include "platform/MessageService.h"

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct RecordedBox {
    std::string text;
    std::string title;
    MsgIcon icon;
    MsgButtons buttons;
};

class ScriptedMessages : public MessageService {
public:
    ScriptedMessages();   // installs itself
    ~ScriptedMessages() override;  // restores the default

    int messageBox(const std::string& text, const std::string& title, MsgIcon icon,
                   MsgButtons buttons) override;
    std::optional<std::string> saveFileName(const SaveFileRequest& request) override;
    // Open answers come from the same queue as save answers.
    std::optional<std::string> openFileName(const SaveFileRequest& request) override {
        return saveFileName(request);
    }

    // Answers used in order; when the script is empty a box gets its first button.
    void answer(int id);
    void answerSave(std::optional<std::string> path);

    std::vector<RecordedBox> boxes() const;
    std::vector<SaveFileRequest> saveRequests() const;
    size_t count() const;
    bool sawText(const std::string& text) const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::deque<int> answers_;
    std::deque<std::optional<std::string>> saveAnswers_;
    std::vector<RecordedBox> boxes_;
    std::vector<SaveFileRequest> saves_;
};
