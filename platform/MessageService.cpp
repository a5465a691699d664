// Holder of the installed message service; core, no toolkit.
#include "platform/MessageService.h"
#include "res/resource.h"

#include <atomic>

namespace {
class FirstButtonService : public MessageService {
public:
    int messageBox(const std::string&, const std::string&, MsgIcon, MsgButtons buttons) override {
        switch (buttons) {
        case MsgButtons::YesNo:
        case MsgButtons::YesNoCancel: return IDYES;
        case MsgButtons::RetryCancel: return IDRETRY;
        default: return IDOK;
        }
    }
    std::optional<std::string> saveFileName(const SaveFileRequest&) override { return std::nullopt; }
};
FirstButtonService g_default;
std::atomic<MessageService*> g_service{&g_default};
} // namespace

MessageService& MessageService::get() { return *g_service.load(); }

void MessageService::install(MessageService* service) {
    g_service.store(service ? service : &g_default);
}

int ShowMessage(const std::string& text, const std::string& title, MsgIcon icon, MsgButtons buttons) {
    return MessageService::get().messageBox(text, title.empty() ? std::string(kAppTitle) : title, icon, buttons);
}
