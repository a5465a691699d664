// Program-wide values beside the main frame: the start directory (where
// "CmdConf.txt", "PhoneNo.txt" and the overflow dumps live) and the loading flag.
// Read from reader threads, so the flags are atomic and the directory is set once.
#pragma once

#include <atomic>
#include <string>

const std::string& StartDirectory();
void SetStartDirectory(const std::string& dir);
// The start directory joined with a file name.
std::string StartDirPath(const std::string& fileName);

// 1 while a file is being opened into the terminal.
extern std::atomic<int> g_loading;
