// The headless face's boxes: each becomes one line on standard error naming the switch,
// answered as a script needs (go ahead: OK, Yes; never Retry, which would loop).
// Plain C++; any thread, as every MessageService.
#pragma once

#include "platform/MessageService.h"

#include <mutex>
#include <string>
#include <vector>

namespace runner {

// text on one line: line breaks and tabs become blanks, runs of blanks one blank.
std::string OneLine(const std::string& text);

class HeadlessMessages final : public MessageService {
public:
    // fd: where the lines go (standard error in the program).
    HeadlessMessages(std::string label, int fd = 2);

    int messageBox(const std::string& text, const std::string& title, MsgIcon icon,
                   MsgButtons buttons) override;
    // Capture On's file chooser: the --trace file.
    std::optional<std::string> saveFileName(const SaveFileRequest& request) override;

    void setTraceFile(const std::string& path);
    // One line "pmxdiag-run: LABEL: text".
    void say(const std::string& text);
    // While held, boxes with the error or warning icon are kept instead of written, so
    // that a failed connect is told in one line with its detail; releasing writes them.
    void hold(bool on);
    // The kept boxes, joined, and forgotten.
    std::string takeHeld();

private:
    const std::string label_;
    const int fd_;
    std::mutex mutex_;
    std::string traceFile_;
    bool holding_ = false;      // under mutex_
    std::vector<std::string> held_;  // under mutex_
};

} // namespace runner
