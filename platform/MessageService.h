// The one way the program asks the user something or tells them something:
// every message box and the save-file dialog go through here, so tests can
// script the answers. Plain C++ so that core code can report its own errors.
#pragma once

#include <optional>
#include <string>

enum class MsgIcon { None, Error, Warning, Information, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };

struct SaveFileRequest {
    std::string title;          // empty: the toolkit's default ("Save As")
    std::string filter;         // "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||"
    std::string defaultExt;     // without the dot
    std::string initialName;
    bool overwritePrompt = true;
};

class MessageService {
public:
    virtual ~MessageService() = default;

    // Returns the pressed button as IDOK, IDCANCEL, IDYES or IDNO (res/resource.h).
    // Safe to call from any thread; the Qt implementation shows the box on the GUI thread.
    virtual int messageBox(const std::string& text, const std::string& title,
                           MsgIcon icon, MsgButtons buttons) = 0;
    // The chosen path, or nothing when the user cancelled.
    virtual std::optional<std::string> saveFileName(const SaveFileRequest& request) = 0;
    // File > Open's chooser; the same request fields (overwritePrompt unused).
    virtual std::optional<std::string> openFileName(const SaveFileRequest&) { return std::nullopt; }

    static MessageService& get();
    // nullptr restores the default, which answers every box with its first button.
    static void install(MessageService* service);
};

// The application title shown on boxes that have no title of their own.
inline constexpr const char* kAppTitle = "PMXDiag";

// Convenience: a box through the installed service; an empty title means kAppTitle.
int ShowMessage(const std::string& text, const std::string& title = std::string(),
                MsgIcon icon = MsgIcon::None, MsgButtons buttons = MsgButtons::Ok);
