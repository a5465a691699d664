// The stored ISDN number and the in-memory number list. Main thread.
#include "links/IsdnNumbers.h"

#include "platform/MessageService.h"
#include "platform/Profile.h"
#include "links/IsdnTexts.h"

#include <algorithm>

std::string ReadStoredIsdnNumber() {
    return Profile::get().getString(isdn::kSection, isdn::kNumberKey, "");
}

bool StoreIsdnNumber(const std::string& text) {
    if (text.empty()) {
        ShowMessage(isdn::kEnterNumber, isdn::kEnterNumberTitle);
        return false;
    }
    return Profile::get().writeString(isdn::kSection, isdn::kNumberKey, text);
}

IsdnNumberList& IsdnNumberList::instance() {
    static IsdnNumberList list;
    return list;
}

void IsdnNumberList::addIfMissing(const std::string& text) {
    if (text.empty() || std::find(entries_.begin(), entries_.end(), text) != entries_.end())
        return;
    entries_.push_back(text);
}
