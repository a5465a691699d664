// Test harness for the Telnet machines: records shown bytes, data blocks and each write.
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "terminal/ReceiveSink.h"
#include "terminal/TelnetStream.h"

// Bytes from small numbers and text pieces, so scripts read like the wire.
inline std::string Bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values)
        out.push_back(static_cast<char>(static_cast<unsigned char>(v)));
    return out;
}

struct RecordingSink : ReceiveSink {
    std::string shown;  // what the document would see: each text up to its NUL
    int blocks = 0;     // AppendReceived calls
    int badLengths = 0; // calls with a non-positive length or a zero byte inside
    void AppendReceived(const char* text, int length) override
    {
        ++blocks;
        const std::size_t n = length > 0 ? static_cast<std::size_t>(length) : 0;
        if (n == 0 || std::memchr(text, 0, n))
            ++badLengths;
        shown.append(text, n);  // no temporary: the fuzz test counts heap use
    }
};

struct TelnetHarness {
    RecordingSink sink;
    std::vector<std::string> writes;
    TelnetStream stream{[this](const char* p, int n) {
                            writes.emplace_back(p, static_cast<std::size_t>(n));
                            return n;
                        },
                        &sink};

    void Feed(const std::string& bytes) { stream.Feed(bytes.data(), static_cast<int>(bytes.size())); }
    std::string Replies() const
    {
        std::string all;
        for (const std::string& w : writes)
            all += w;
        return all;
    }
    std::vector<int> WriteSizes() const
    {
        std::vector<int> sizes;
        for (const std::string& w : writes)
            sizes.push_back(static_cast<int>(w.size()));
        return sizes;
    }
    void Clear()
    {
        sink.shown.clear();
        sink.blocks = 0;
        writes.clear();
    }
};
