// Splits a fuzz input into the choices a harness makes (split points, modes) and the
// payload, so that one byte string drives both. Plain C++: the replay runner needs
// no fuzzing toolkit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // A value taken from the front; 0 once the input is used up.
    unsigned Byte() { return pos_ < size_ ? data_[pos_++] : 0u; }
    bool Flag() { return (Byte() & 1u) != 0; }
    // Up to `most` bytes as text.
    std::string Text(size_t most) {
        const size_t n = size_ - pos_ < most ? size_ - pos_ : most;
        std::string out(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return out;
    }
    std::string Rest() { return Text(size_ - pos_); }
    bool Empty() const { return pos_ >= size_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// A small deterministic generator seeded from the input: split points that do not
// consume the payload.
class SplitRng {
public:
    explicit SplitRng(uint32_t seed) : state_(seed * 2654435761u + 1u) {}
    uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    size_t Below(size_t n) { return n ? Next() % n : 0; }

private:
    uint32_t state_;
};

// A broken invariant: the fuzzer and the replay runner both stop on abort.
#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) FuzzFail(#cond, __FILE__, __LINE__);                                 \
    } while (0)

[[noreturn]] void FuzzFail(const char* what, const char* file, int line);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
