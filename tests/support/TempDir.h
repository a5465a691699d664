// A fresh temporary directory for a test, removed with everything in it afterwards.
#pragma once

#include <string>

class TempDir {
public:
    // A new folder under parent (the system's temporary folder when empty).
    explicit TempDir(const std::string& parent = std::string());
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    void write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;  // empty when missing
    bool exists(const std::string& name) const;

private:
    std::string path_;
};

// Makes a directory the working directory for a scope (the program's start directory).
class ScopedChdir {
public:
    explicit ScopedChdir(const std::string& dir);
    ~ScopedChdir();
    ScopedChdir(const ScopedChdir&) = delete;
    ScopedChdir& operator=(const ScopedChdir&) = delete;

private:
    std::string previous_;
};

// A small command file of two commands, for tests that only need a valid one.
inline constexpr const char* kTwoCommandConf = "{t b[Set Board Trace] 1 [Board No];s s[Station Status] 0;}";

// A temporary start directory holding a valid "CmdConf.txt", made the working directory
// for the scope: what a frame needs to be created in a test.
class TestStartDir {
public:
    explicit TestStartDir(const std::string& cmdConf = kTwoCommandConf)
        : cd_((dir_.write("CmdConf.txt", cmdConf), dir_.path())) {}
    const TempDir& dir() const { return dir_; }

private:
    TempDir dir_;
    ScopedChdir cd_;
};
