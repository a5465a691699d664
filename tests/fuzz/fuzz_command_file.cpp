// Command file text through the parser, then every position through the line builder
// with typed answers taken from the input: no crash, the table and lines stay bounded.
#include "commands/BuildCommandLine.h"
#include "commands/CommandTable.h"
#include "tests/fuzz/FuzzInput.h"

namespace {
class InputPrompter : public ArgumentPrompter {
public:
    explicit InputPrompter(FuzzInput& in) : in_(in) {}
    std::string askOne(const std::string&) override { return in_.Text(in_.Byte() % 90); }
    std::pair<std::string, std::string> askTwo(const std::string&, const std::string&) override {
        std::string a = in_.Text(in_.Byte() % 50);
        return {a, in_.Text(in_.Byte() % 50)};
    }

private:
    FuzzInput& in_;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const size_t fileLength = in.Byte() | (in.Byte() << 8);
    const std::string text = in.Text(fileLength);
    CommandTable table;
    if (!table.Parse(text)) return 0;
    FUZZ_CHECK(table.count() >= 0 && table.count() <= CommandTable::kMaxEntries);
    table.InsertBuiltIns();
    FUZZ_CHECK(table.count() <= CommandTable::kMaxEntries);
    InputPrompter prompter(in);
    for (int position = -1; position <= CommandTable::kMaxEntries; ++position) {
        const std::string line = BuildCommandLine(table, position, prompter);
        FUZZ_CHECK(line.size() <= kMaxCommandLine);
    }
    return 0;
}
