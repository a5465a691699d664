// The modem link. So far only the number to dial, which the phone book's Call and
// Speed Call hand over on the GUI thread and the dialling reads later, possibly on
// its own thread; hence the lock.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

class CModemLink {
public:
    // The dial string holds at most this many characters.
    static constexpr std::size_t kMaxDestination = 83;

    CModemLink() = default;
    CModemLink(const CModemLink&) = delete;
    CModemLink& operator=(const CModemLink&) = delete;

    // Keeps a copy of text as the number to dial. A text longer than 83 characters
    // (or none) is refused: the dial string becomes empty rather than a cut-off
    // number that could reach the wrong switch, and false is returned.
    bool SetDestination(const char* text);
    std::string GetDestination() const;

private:
    mutable std::mutex mutex_;
    std::string destination_ = "0";
};
