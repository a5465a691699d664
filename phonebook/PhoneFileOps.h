// The file operations the phone book's load and save are made of, behind one small
// interface so that a test can fail or "crash" any single step. GUI thread only.
#pragma once

#include <cstddef>
#include <string>

class PhoneFileOps {
public:
    virtual ~PhoneFileOps() = default;

    virtual bool exists(const std::string& path) = 0;
    // The whole file into out; false when it cannot be opened or read.
    virtual bool readAll(const std::string& path, std::string& out) = 0;
    // Creates a zero-byte file; false when it cannot, or when one is already there.
    virtual bool createEmpty(const std::string& path) = 0;
    // Create or truncate for writing; returns a handle, or -1.
    virtual int openNew(const std::string& path) = 0;
    // Bytes written (possibly fewer than asked), or -1.
    virtual long write(int handle, const char* data, std::size_t size) = 0;
    // Forces the written bytes to the disk.
    virtual bool sync(int handle) = 0;
    virtual bool close(int handle) = 0;
    // Replaces `to` by `from` in one step.
    virtual bool rename(const std::string& from, const std::string& to) = 0;
    virtual bool remove(const std::string& path) = 0;
    // Makes a rename in the directory durable.
    virtual bool syncDir(const std::string& dir) = 0;
    // An advisory lock on the directory that keeps the saves of other instances out
    // until unlockDir; a handle, or -1 when none can be had (the save goes on alone).
    virtual int lockDir(const std::string& dir);
    virtual void unlockDir(int handle);

    // The POSIX implementation used by the program.
    static PhoneFileOps& system();
};
