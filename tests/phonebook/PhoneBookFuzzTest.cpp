// Randomized reading of phone book files: no crash, memory bounded by the input,
// and whatever is read writes back to a file that reads the same.
#include "phonebook/PhoneBook.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

TEST(PhoneBookFuzz, MillionRandomFiles) {
    constexpr int kInputs = 1'000'000;
    std::mt19937 rng(20240611u);
    // Mostly the characters the reader reacts to, so that every state is reached.
    const std::string alphabet = "{}[];[]a1 \r\n\x80\xFF";
    std::uniform_int_distribution<int> length(0, 96);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(alphabet.size()) - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> kind(0, 9);

    std::size_t totalEntries = 0;
    std::size_t maxEntries = 0;
    for (int i = 0; i < kInputs; ++i) {
        std::string text;
        const int n = length(rng);
        const bool raw = kind(rng) == 0;
        for (int k = 0; k < n; ++k)
            text += raw ? static_cast<char>(byte(rng)) : alphabet[static_cast<std::size_t>(pick(rng))];
        if (kind(rng) < 3) text = std::string(kPhoneBookHeader) + text;

        const std::vector<PhoneEntry> entries = ParsePhoneBookText(text);
        std::size_t fieldBytes = 0;
        for (const auto& e : entries) fieldBytes += e.name.size() + e.number.size();
        const auto brackets = static_cast<std::size_t>(std::count(text.begin(), text.end(), '['));
        ASSERT_LE(entries.size(), brackets) << i;
        ASSERT_LE(fieldBytes, text.size()) << i;
        if (i % 8 == 0) { ASSERT_EQ(ParsePhoneBookText(BuildPhoneBookText(entries)), entries) << i; }
        totalEntries += entries.size();
        maxEntries = std::max(maxEntries, entries.size());
    }
    RecordProperty("entries", static_cast<int>(totalEntries));
    EXPECT_GT(totalEntries, 100'000u) << "the inputs should reach the records";
    EXPECT_GT(maxEntries, 3u);
}

TEST(PhoneBookFuzz, LargeFileIsLinear) {
    // 4 MB of records: the reader keeps one pass and memory in proportion.
    std::string text = "{";
    for (int i = 0; i < 200'000; ++i) text += "[Name][0123456789];\r\n";
    text += "}";
    const auto entries = ParsePhoneBookText(text);
    EXPECT_EQ(entries.size(), 200'000u);
    EXPECT_EQ(entries.back(), (PhoneEntry{"Name", "0123456789"}));
}
