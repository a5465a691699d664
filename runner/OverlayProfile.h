// The runner's settings: what the command line gives, over the stored settings (read
// only). A run never changes the stored settings; what the session writes stays here.
#pragma once

#include "platform/Profile.h"

class OverlayProfile final : public Profile {
public:
    explicit OverlayProfile(Profile& stored) : stored_(stored) {}

    void set(const std::string& section, const std::string& key, const std::string& value) {
        overlay_.writeString(section, key, value);
    }
    void set(const std::string& section, const std::string& key, int value) { overlay_.writeInt(section, key, value); }

    int getInt(const std::string& section, const std::string& key, int defaultValue) override {
        return overlay_.has(section, key) ? overlay_.getInt(section, key, defaultValue)
                                          : stored_.getInt(section, key, defaultValue);
    }
    std::string getString(const std::string& section, const std::string& key,
                          const std::string& defaultValue) override {
        return overlay_.has(section, key) ? overlay_.getString(section, key, defaultValue)
                                          : stored_.getString(section, key, defaultValue);
    }
    bool writeInt(const std::string& section, const std::string& key, int value) override {
        return overlay_.writeInt(section, key, value);
    }
    bool writeString(const std::string& section, const std::string& key, const std::string& value) override {
        return overlay_.writeString(section, key, value);
    }

private:
    Profile& stored_;
    MemoryProfile overlay_;
};
