#include "tests/support/ScriptedMessages.h"
#include "res/resource.h"

ScriptedMessages::ScriptedMessages() { MessageService::install(this); }
ScriptedMessages::~ScriptedMessages() { MessageService::install(nullptr); }

int ScriptedMessages::messageBox(const std::string& text, const std::string& title, MsgIcon icon,
                                 MsgButtons buttons) {
    std::lock_guard lock(mutex_);
    boxes_.push_back({text, title, icon, buttons});
    if (!answers_.empty()) {
        int a = answers_.front();
        answers_.pop_front();
        return a;
    }
    switch (buttons) {
    case MsgButtons::YesNo:
    case MsgButtons::YesNoCancel: return IDYES;
    case MsgButtons::RetryCancel: return IDRETRY;
    default: return IDOK;
    }
}

std::optional<std::string> ScriptedMessages::saveFileName(const SaveFileRequest& request) {
    std::lock_guard lock(mutex_);
    saves_.push_back(request);
    if (saveAnswers_.empty()) return std::nullopt;
    auto a = saveAnswers_.front();
    saveAnswers_.pop_front();
    return a;
}

void ScriptedMessages::answer(int id) { std::lock_guard lock(mutex_); answers_.push_back(id); }
void ScriptedMessages::answerSave(std::optional<std::string> path) {
    std::lock_guard lock(mutex_);
    saveAnswers_.push_back(std::move(path));
}
std::vector<RecordedBox> ScriptedMessages::boxes() const { std::lock_guard lock(mutex_); return boxes_; }
std::vector<SaveFileRequest> ScriptedMessages::saveRequests() const { std::lock_guard lock(mutex_); return saves_; }
size_t ScriptedMessages::count() const { std::lock_guard lock(mutex_); return boxes_.size(); }
bool ScriptedMessages::sawText(const std::string& text) const {
    std::lock_guard lock(mutex_);
    for (const auto& b : boxes_) if (b.text == text) return true;
    return false;
}
void ScriptedMessages::clear() {
    std::lock_guard lock(mutex_);
    boxes_.clear(); saves_.clear(); answers_.clear(); saveAnswers_.clear();
}
