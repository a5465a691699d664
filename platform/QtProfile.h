// Settings over QSettings("TRQ PC Applications", "PMXDiag"), one group per section.
#pragma once

#include "platform/Profile.h"

class QtProfile : public Profile {
public:
    int getInt(const std::string& section, const std::string& key, int defaultValue) override;
    std::string getString(const std::string& section, const std::string& key,
                          const std::string& defaultValue) override;
    bool writeInt(const std::string& section, const std::string& key, int value) override;
    bool writeString(const std::string& section, const std::string& key,
                     const std::string& value) override;

private:
    std::mutex mutex_;
};
