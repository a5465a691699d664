// Phone book files: the reader on any bytes (what it reads writes back the same), and
// load plus save with one or two file steps failing or cut off: the book on disk is
// always the old one or the new one, and a save over a file that could not be read
// never happens.
#include "phonebook/PhoneBook.h"
#include "tests/fuzz/FuzzInput.h"
#include "tests/phonebook/FaultyFileOps.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TempDir.h"

#include <filesystem>

#include <fstream>
#include <iterator>

namespace {
std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Forwards to the plan of the step at hand: one for the load, one for the save.
class SwitchedOps : public PhoneFileOps {
public:
    PhoneFileOps* current = nullptr;
    bool exists(const std::string& p) override { return current->exists(p); }
    bool readAll(const std::string& p, std::string& out) override { return current->readAll(p, out); }
    bool createEmpty(const std::string& p) override { return current->createEmpty(p); }
    int openNew(const std::string& p) override { return current->openNew(p); }
    long write(int h, const char* d, std::size_t n) override { return current->write(h, d, n); }
    bool sync(int h) override { return current->sync(h); }
    bool close(int h) override { return current->close(h); }
    bool rename(const std::string& a, const std::string& b) override { return current->rename(a, b); }
    bool remove(const std::string& p) override { return current->remove(p); }
    bool syncDir(const std::string& d) override { return current->syncDir(d); }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const unsigned failStep = in.Byte() % 24;
    const unsigned crashStep = in.Byte() % 32;
    const bool unreadable = in.Flag();
    const std::string fileText = in.Rest();

    const std::vector<PhoneEntry> parsed = ParsePhoneBookText(fileText);
    FUZZ_CHECK(ParsePhoneBookText(BuildPhoneBookText(parsed)) == parsed);

    TempDir dir(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "");  // fsync costs nothing there
    ScriptedMessages boxes;
    dir.write(kPhoneBookFile, fileText);
    dir.write(kPhoneBookBackup, "previous backup");
    const std::string before = fileText;

    FaultyFileOps loadOps(unreadable ? FaultyFileOps::Mode::FailOne : FaultyFileOps::Mode::None, 1);
    SwitchedOps ops;
    ops.current = &loadOps;
    PhoneBook book(dir.path(), &ops);
    const bool loaded = book.load();
    if (loaded) FUZZ_CHECK(book.entries() == parsed);
    book.append({"New", "0-800"});
    const std::vector<PhoneEntry> next = book.entries();

    // A failed load and a save that fails one step, or is cut off at one, together.
    const bool crash = crashStep < 16;
    FaultyFileOps saveOps(crash ? FaultyFileOps::Mode::CrashFrom : FaultyFileOps::Mode::FailOne,
                          static_cast<int>(crash ? crashStep : failStep));
    ops.current = &saveOps;
    const bool saved = book.save();

    const std::string now = ReadFile(dir.file(kPhoneBookFile));
    if (!loaded) {
        FUZZ_CHECK(!saved);
        FUZZ_CHECK(now == before);
    } else {
        FUZZ_CHECK(now == before || now == BuildPhoneBookText(next));
        if (saved) FUZZ_CHECK(now == BuildPhoneBookText(next));
    }
    const std::string backup = ReadFile(dir.file(kPhoneBookBackup));
    FUZZ_CHECK(backup == "previous backup" || backup == before);
    return 0;
}
