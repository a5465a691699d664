// File operations for tests that fail, "crash" or write short at a chosen step,
// counting every step of a load or save.
#pragma once

#include "phonebook/PhoneFileOps.h"

class FaultyFileOps : public PhoneFileOps {
public:
    enum class Mode {
        None,
        FailOne,     // step `target` fails, the others work
        CrashFrom,   // from step `target` on nothing reaches the disk any more
        ShortWrite,  // the first write writes half, later writes find the disk full
    };

    explicit FaultyFileOps(Mode mode = Mode::None, int target = -1) : mode_(mode), target_(target) {}

    int steps() const { return steps_; }

    bool exists(const std::string& path) override { return !hit() && real().exists(path); }
    bool readAll(const std::string& path, std::string& out) override {
        if (hit()) { out.clear(); return false; }
        return real().readAll(path, out);
    }
    bool createEmpty(const std::string& path) override { return !hit() && real().createEmpty(path); }
    int openNew(const std::string& path) override { return hit() ? -1 : real().openNew(path); }
    long write(int handle, const char* data, std::size_t size) override {
        if (hit()) return -1;
        if (mode_ == Mode::ShortWrite) {
            if (wroteShort_) return -1;
            wroteShort_ = true;
            if (size > 1) size /= 2;
        }
        return real().write(handle, data, size);
    }
    bool sync(int handle) override { return !hit() && real().sync(handle); }
    bool close(int handle) override {
        // The descriptor is always released: a crash would release it too.
        bool failed = hit();
        return real().close(handle) && !failed;
    }
    bool rename(const std::string& from, const std::string& to) override {
        return !hit() && real().rename(from, to);
    }
    bool remove(const std::string& path) override { return !hit() && real().remove(path); }
    bool syncDir(const std::string& dir) override { return !hit() && real().syncDir(dir); }

private:
    static PhoneFileOps& real() { return PhoneFileOps::system(); }
    bool hit() {
        const int step = steps_++;
        switch (mode_) {
        case Mode::FailOne: return step == target_;
        case Mode::CrashFrom: return step >= target_;
        default: return false;
        }
    }

    Mode mode_;
    int target_;
    int steps_ = 0;
    bool wroteShort_ = false;
};
