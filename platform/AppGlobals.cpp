// Program-wide values; core.
#include "platform/AppGlobals.h"

#include <filesystem>
#include <mutex>

namespace {
std::mutex g_dirMutex;
std::string g_startDir;
} // namespace

std::atomic<int> g_loading{0};

const std::string& StartDirectory() {
    std::lock_guard lock(g_dirMutex);
    return g_startDir;
}

void SetStartDirectory(const std::string& dir) {
    std::lock_guard lock(g_dirMutex);
    g_startDir = dir;
}

std::string StartDirPath(const std::string& fileName) {
    return (std::filesystem::path(StartDirectory()) / fileName).string();
}
