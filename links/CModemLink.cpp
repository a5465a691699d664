// Modem link: the dial string.
#include "links/CModemLink.h"

#include <cstring>

bool CModemLink::SetDestination(const char* text) {
    // strnlen: never read past what the limit needs to tell a long text from a fitting one.
    const std::size_t length = text ? strnlen(text, kMaxDestination + 1) : kMaxDestination + 1;
    std::lock_guard lock(mutex_);
    if (length > kMaxDestination) {
        destination_.clear();
        return false;
    }
    destination_.assign(text, length);
    return true;
}

std::string CModemLink::GetDestination() const {
    std::lock_guard lock(mutex_);
    return destination_;
}
