// Script file parsing and the prompt watch.
#include "commands/CommandScript.h"

#include "terminal/PromptMatcher.h"

#include <fstream>
#include <iterator>

namespace commandscript {

namespace {
constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string_view WithoutBom(std::string_view content) {
    if (content.substr(0, kBom.size()) == kBom) content.remove_prefix(kBom.size());
    return content;
}
} // namespace

int FirstControlLine(std::string_view content) {
    content = WithoutBom(content);
    int line = 1;
    for (const char ch : content) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n') ++line;
        else if ((c < 0x20 && c != '\t' && c != '\r') || c == 0x7F) return line;
    }
    return 0;
}

std::vector<std::string> ParseCommands(std::string_view content) {
    content = WithoutBom(content);
    std::vector<std::string> commands;
    std::size_t pos = 0;
    while (pos < content.size()) {
        std::size_t end = content.find('\n', pos);
        if (end == std::string_view::npos) end = content.size();
        std::string line;
        for (char c : content.substr(pos, end - pos))
            if (c != '\0') line += c;
        pos = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        commands.push_back(std::move(line));
    }
    return commands;
}

LoadResult LoadCommands(const std::string& path, std::vector<std::string>* commands, int* badLine) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return LoadResult::CannotRead;
    std::string content;
    char buf[4096];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        content.append(buf, static_cast<std::size_t>(in.gcount()));
        if (content.size() > kMaxFileBytes) return LoadResult::CannotRead;
    }
    if (in.bad()) return LoadResult::CannotRead;
    // Control bytes would reach the switch as keys (^C, ESC, XON/XOFF): the whole file
    // is refused before anything is sent.
    if (const int line = FirstControlLine(content)) {
        if (badLine) *badLine = line;
        return LoadResult::ControlBytes;
    }
    *commands = ParseCommands(content);
    return LoadResult::Loaded;
}

} // namespace commandscript

namespace {
constexpr std::size_t kKeep = 32;
bool EndsWith(std::string_view s, std::string_view end) {
    return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}
} // namespace

void PromptTail::Feed(std::string_view text) {
    if (text.size() >= kKeep) {
        tail_.assign(text.substr(text.size() - kKeep));
        return;
    }
    tail_.append(text);
    if (tail_.size() > kKeep) tail_.erase(0, tail_.size() - kKeep);
}

bool PromptTail::AtPrompt() const {
    std::string_view t = tail_;
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    return EndsWith(t, PromptMatcher::kMaintPrompt) || EndsWith(t, PromptMatcher::kMonPrompt);
}
