// Per-user settings by section and key, as the program stores them. The Qt layer
// backs this with QSettings; core tests use MemoryProfile.
#pragma once

#include <map>
#include <mutex>
#include <string>

class Profile {
public:
    virtual ~Profile() = default;
    virtual int getInt(const std::string& section, const std::string& key, int defaultValue) = 0;
    virtual std::string getString(const std::string& section, const std::string& key,
                                  const std::string& defaultValue) = 0;
    virtual bool writeInt(const std::string& section, const std::string& key, int value) = 0;
    virtual bool writeString(const std::string& section, const std::string& key,
                             const std::string& value) = 0;

    static Profile& get();
    // nullptr restores the built-in in-memory profile.
    static void install(Profile* profile);
};

class MemoryProfile : public Profile {
public:
    int getInt(const std::string& section, const std::string& key, int defaultValue) override;
    std::string getString(const std::string& section, const std::string& key,
                          const std::string& defaultValue) override;
    bool writeInt(const std::string& section, const std::string& key, int value) override;
    bool writeString(const std::string& section, const std::string& key,
                     const std::string& value) override;
    bool has(const std::string& section, const std::string& key) const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string> values_;  // "section\nkey" -> value
};
