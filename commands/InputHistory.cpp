// Input history: walk and settings storage.
#include "commands/InputHistory.h"

#include "platform/Profile.h"

#include <algorithm>

namespace {
std::string LineKey(int i) { return "Line" + std::to_string(i + 1); }
} // namespace

void InputHistory::Add(const std::string& line) {
    walk_ = -1;
    if (line.empty() || (!lines_.empty() && lines_.front() == line)) return;
    lines_.insert(lines_.begin(), line);
    if (lines_.size() > size_t(kMaxLines)) lines_.resize(kMaxLines);
}

bool InputHistory::Older(const std::string& typed, std::string* out) {
    if (walk_ + 1 >= static_cast<int>(lines_.size())) return false;
    if (walk_ < 0) draft_ = typed;
    *out = lines_[++walk_];
    return true;
}

bool InputHistory::Newer(std::string* out) {
    if (walk_ < 0) return false;
    *out = --walk_ < 0 ? draft_ : lines_[walk_];
    return true;
}

void InputHistory::Load() {
    Profile& p = Profile::get();
    lines_.clear();
    walk_ = -1;
    const int count = std::clamp(p.getInt(kSection, "Count", 0), 0, kMaxLines);
    for (int i = 0; i < count; ++i) {
        std::string line = p.getString(kSection, LineKey(i), "");
        if (!line.empty() && (lines_.empty() || lines_.back() != line)) lines_.push_back(std::move(line));
    }
}

void InputHistory::Save() const {
    Profile& p = Profile::get();
    p.writeInt(kSection, "Count", static_cast<int>(lines_.size()));
    for (size_t i = 0; i < lines_.size(); ++i) p.writeString(kSection, LineKey(int(i)), lines_[i]);
}
