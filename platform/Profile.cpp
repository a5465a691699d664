// Profile holder and the in-memory profile; core, no toolkit.
#include "platform/Profile.h"

#include <atomic>
#include <cstdlib>

namespace {
MemoryProfile g_memory;
std::atomic<Profile*> g_profile{&g_memory};
std::string joinKey(const std::string& s, const std::string& k) { return s + '\n' + k; }
} // namespace

Profile& Profile::get() { return *g_profile.load(); }
void Profile::install(Profile* profile) { g_profile.store(profile ? profile : &g_memory); }

int MemoryProfile::getInt(const std::string& section, const std::string& key, int defaultValue) {
    std::lock_guard lock(mutex_);
    auto it = values_.find(joinKey(section, key));
    if (it == values_.end()) return defaultValue;
    char* end = nullptr;
    long v = std::strtol(it->second.c_str(), &end, 10);
    return (end == it->second.c_str()) ? defaultValue : static_cast<int>(v);
}

std::string MemoryProfile::getString(const std::string& section, const std::string& key,
                                     const std::string& defaultValue) {
    std::lock_guard lock(mutex_);
    auto it = values_.find(joinKey(section, key));
    return it == values_.end() ? defaultValue : it->second;
}

bool MemoryProfile::writeInt(const std::string& section, const std::string& key, int value) {
    return writeString(section, key, std::to_string(value));
}

bool MemoryProfile::writeString(const std::string& section, const std::string& key,
                                const std::string& value) {
    std::lock_guard lock(mutex_);
    values_[joinKey(section, key)] = value;
    return true;
}

bool MemoryProfile::has(const std::string& section, const std::string& key) const {
    std::lock_guard lock(mutex_);
    return values_.count(joinKey(section, key)) != 0;
}

void MemoryProfile::clear() {
    std::lock_guard lock(mutex_);
    values_.clear();
}
