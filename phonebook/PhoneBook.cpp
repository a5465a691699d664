// Phone book file: layout, reading machine, load and save with the backup.
#include "phonebook/PhoneBook.h"

#include "platform/MessageService.h"
#include "phonebook/PhoneFileOps.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <unistd.h>

namespace {

constexpr const char* kFileErrorTitle = "File Error";
constexpr const char* kUnreadFileText =
    "'PhoneNo.txt' could not be read when the phone book was opened, so it is not replaced. "
    "Make it readable and open the phone book again...";

void FileError(const char* text) { ShowMessage(text, kFileErrorTitle, MsgIcon::Error, MsgButtons::Ok); }

enum class ParseState { BeforeBook, BetweenEntries, InName, BetweenFields, InNumber, AfterNumber };

} // namespace

std::string BuildPhoneBookText(const std::vector<PhoneEntry>& entries) {
    std::string text(kPhoneBookHeader);
    text += "{\r\n";
    for (const PhoneEntry& e : entries) {
        text += '[';
        text += e.name;
        text += "][";
        text += e.number;
        text += "];\r\n";
    }
    text += "}\r\n";
    return text;
}

std::vector<PhoneEntry> ParsePhoneBookText(std::string_view text) {
    std::vector<PhoneEntry> entries;
    ParseState state = ParseState::BeforeBook;
    for (char c : text) {
        switch (state) {
        case ParseState::BeforeBook:
            if (c == '{') state = ParseState::BetweenEntries;
            break;
        case ParseState::BetweenEntries:
            if (c == '[') {
                entries.emplace_back();
                state = ParseState::InName;
            } else if (c == '}') {
                return entries;
            }
            break;
        case ParseState::InName:
            if (c == ']') state = ParseState::BetweenFields;
            else entries.back().name += c;
            break;
        case ParseState::BetweenFields:
            if (c == '[') state = ParseState::InNumber;
            break;
        case ParseState::InNumber:
            if (c == ']') state = ParseState::AfterNumber;
            else entries.back().number += c;
            break;
        case ParseState::AfterNumber:
            // A record whose ";" is missing ends where the next one or the book ends,
            // rather than swallowing the records after it.
            if (c == ';') {
                state = ParseState::BetweenEntries;
            } else if (c == '[') {
                entries.emplace_back();
                state = ParseState::InName;
            } else if (c == '}') {
                return entries;
            }
            break;
        }
    }
    return entries;
}

std::vector<PhoneEntry> MergePhoneBook(const std::vector<PhoneEntry>& base, const std::vector<PhoneEntry>& ours,
                                       const std::vector<PhoneEntry>& theirs) {
    if (theirs == base) return ours;
    std::vector<PhoneEntry> added = ours;
    std::vector<PhoneEntry> removed;
    for (const PhoneEntry& e : base) {
        auto it = std::find(added.begin(), added.end(), e);
        if (it != added.end()) added.erase(it);
        else removed.push_back(e);
    }
    std::vector<PhoneEntry> result = theirs;
    for (const PhoneEntry& e : removed) {
        auto it = std::find(result.begin(), result.end(), e);
        if (it != result.end()) result.erase(it);
    }
    result.insert(result.end(), added.begin(), added.end());
    return result;
}

namespace {
std::atomic<unsigned> g_instances{0};
}

PhoneBook::PhoneBook(std::string directory, PhoneFileOps* ops)
    : directory_(std::move(directory)), ops_(ops ? *ops : PhoneFileOps::system()), instance_(++g_instances) {}

std::string PhoneBook::tempPath() const {
    return pathOf(kPhoneBookTemp) + "." + std::to_string(::getpid()) + "." + std::to_string(instance_);
}

std::string PhoneBook::pathOf(const char* name) const {
    return (std::filesystem::path(directory_) / name).string();
}

void PhoneBook::append(PhoneEntry entry) { entries_.push_back(std::move(entry)); }

bool PhoneBook::replace(int index, PhoneEntry entry) {
    if (index < 0 || index >= count()) return false;
    entries_[static_cast<std::size_t>(index)] = std::move(entry);
    return true;
}

bool PhoneBook::remove(int index) {
    if (index < 0 || index >= count()) return false;
    entries_.erase(entries_.begin() + index);
    return true;
}

void PhoneBook::clear() {
    entries_.clear();
    fileText_.clear();
}

bool PhoneBook::load() {
    clear();
    unreadFile_ = false;
    loaded_ = false;
    const std::string path = filePath();
    if (!ops_.exists(path)) {
        if (ops_.createEmpty(path)) {
            base_.clear();
            loaded_ = true;
            return true;
        }
        // Someone else may have created it in between: then read theirs.
        if (!ops_.exists(path)) {
            FileError("Cannot create 'PhoneNo.txt' file...");
            return false;
        }
    }
    if (!ops_.readAll(path, fileText_)) {
        fileText_.clear();
        // The empty list is not the file's content: a save must not write it over the file.
        unreadFile_ = true;
        FileError("Cannot open 'PhoneNo.txt' file...");
        return false;
    }
    entries_ = ParsePhoneBookText(fileText_);
    base_ = entries_;
    loaded_ = true;
    return true;
}

PhoneBook::WriteResult PhoneBook::writeFile(const std::string& path, const std::string& bytes) {
    int handle = ops_.openNew(path);
    if (handle < 0) return WriteResult::CannotOpen;
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        long n = ops_.write(handle, bytes.data() + done, bytes.size() - done);
        if (n <= 0) ok = false;  // a full disk shows as a short write, then 0 or -1
        else done += static_cast<std::size_t>(n);
    }
    ok = ok && ops_.sync(handle);
    ok = ops_.close(handle) && ok;
    return ok ? WriteResult::Written : WriteResult::CannotWrite;
}

bool PhoneBook::copyFile(const std::string& from, const std::string& to) {
    std::string bytes;
    if (!ops_.readAll(from, bytes)) return false;
    // Through a file of its own: a copy that fails part-way leaves `to` as it was.
    const std::string temp = tempPath() + ".bak";
    if (writeFile(temp, bytes) == WriteResult::Written && ops_.rename(temp, to)) return true;
    ops_.remove(temp);
    return false;
}

bool PhoneBook::save() {
    if (unreadFile_) {
        fileText_ = BuildPhoneBookText(entries_);
        FileError(kUnreadFileText);
        return false;
    }
    const int lock = ops_.lockDir(directory_);
    const bool saved = saveLocked();
    ops_.unlockDir(lock);
    return saved;
}

bool PhoneBook::saveLocked() {
    const std::string path = filePath();
    const std::string backup = backupPath();
    const std::string temp = tempPath();

    // Another instance may have saved since this one read the file: its entries stay.
    // A file gone or unreadable meanwhile leaves this book's list as it is.
    std::vector<PhoneEntry> entries = entries_;
    std::string current;
    if (loaded_ && ops_.exists(path) && ops_.readAll(path, current))
        entries = MergePhoneBook(base_, entries_, ParsePhoneBookText(current));
    fileText_ = BuildPhoneBookText(entries);

    // A failed copy keeps the previous backup: an old backup is worth more than none.
    bool backedUp = false;
    if (ops_.exists(path)) backedUp = copyFile(path, backup) || copyFile(path, backup);
    if (!backedUp) FileError("Cannot make a backup file...");

    // The old file is left alone until the new one is complete and on disk; the
    // rename then swaps them, so the directory always holds a whole phone book.
    WriteResult written = writeFile(temp, fileText_);
    if (written == WriteResult::CannotOpen) {
        FileError("Cannot open 'PhoneNo.txt' file...");
        return false;
    }
    if (written != WriteResult::Written || !ops_.rename(temp, path)) {
        ops_.remove(temp);
        FileError("Cannot write to 'PhoneNo.txt' file...");
        return false;
    }
    // Only durability of the rename depends on this; the save itself is done.
    ops_.syncDir(directory_.empty() ? std::string(".") : directory_);
    entries_ = entries;
    base_ = std::move(entries);
    loaded_ = true;
    return true;
}
