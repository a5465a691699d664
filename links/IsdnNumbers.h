// The stored ISDN number and the run's list of numbers offered by the ISDN
// Configure dialog. Main thread.
#pragma once

#include <string>
#include <vector>

// "ISDN" / "History %c"; empty when missing.
std::string ReadStoredIsdnNumber();

// The dialog's store step: an empty text shows "Enter the ISDN Phone Number!"
// titled "Input Error" and stores nothing (false); any other text is stored as
// typed.
bool StoreIsdnNumber(const std::string& text);

// Distinct numbers in the order they joined, kept for the whole run, never saved.
class IsdnNumberList {
public:
    static IsdnNumberList& instance();

    // Appends text unless it is empty or already listed (exact comparison).
    void addIfMissing(const std::string& text);
    const std::vector<std::string>& entries() const { return entries_; }
    void clear() { entries_.clear(); }

private:
    std::vector<std::string> entries_;
};
