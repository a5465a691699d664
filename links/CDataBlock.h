// A heap block of bytes with its length, carried by the LAN link's messages. Whoever
// receives a block through a message owns it (a unique_ptr makes that explicit).
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

class CDataBlock {
public:
    CDataBlock(const char* bytes, std::int32_t length)
        : length_(length > 0 ? length : 0), data_(new char[static_cast<std::size_t>(length_) + 1]) {
        if (length_ > 0 && bytes) std::memcpy(data_.get(), bytes, static_cast<std::size_t>(length_));
        data_[static_cast<std::size_t>(length_)] = '\0';
    }
    const char* data() const { return data_.get(); }
    char* data() { return data_.get(); }
    std::int32_t length() const { return length_; }
    // Keeps the first n bytes (a read that filled less than the block).
    void Truncate(std::int32_t n) {
        if (n < 0 || n > length_) return;
        length_ = n;
        data_[static_cast<std::size_t>(length_)] = '\0';
    }

private:
    std::int32_t length_;
    std::unique_ptr<char[]> data_;  // one spare zero byte after the data
};
using DataBlockPtr = std::unique_ptr<CDataBlock>;
