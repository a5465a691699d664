// Which modems there are: settings first, then the serial devices present.
#include "links/ModemDiscovery.h"

#include "platform/Profile.h"
#include "links/SerialDevices.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>

namespace {

constexpr int kMaxModems = 256;  // a damaged count must not make us loop for ages

std::string RealPath(const std::string& path) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        std::string r = real;
        std::free(real);
        return r;
    }
    return path;
}

std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    return names;
}

} // namespace

std::vector<TelephonyModem> ConfiguredModems() {
    Profile& p = Profile::get();
    std::vector<TelephonyModem> modems;
    const int count = std::min(p.getInt(telephony::kSection, telephony::kKeyCount, -1), kMaxModems);
    for (int i = 0; i < count; ++i) {
        const std::string k = std::to_string(i);
        modems.push_back({p.getString(telephony::kSection, "Name" + k, "Modem " + k),
                          p.getString(telephony::kSection, "Path" + k, ""),
                          p.getString(telephony::kSection, "Init" + k, telephony::kDefaultInit)});
    }
    return modems;
}

std::vector<TelephonyModem> DetectSerialModems(const std::string& devRoot) {
    std::vector<TelephonyModem> found;
    std::vector<std::string> seen;  // real device nodes already offered
    // The stable names first: they survive replugging and renumbering.
    const std::string byId = devRoot + "/serial/by-id";
    for (const std::string& name : ListDir(byId)) {
        const std::string path = byId + "/" + name;
        found.push_back({name, path, telephony::kDefaultInit});
        seen.push_back(RealPath(path));
    }
    for (const std::string& name : ListDir(devRoot)) {
        if (name.rfind("ttyACM", 0) != 0 && name.rfind("ttyUSB", 0) != 0) continue;
        const std::string path = devRoot + "/" + name;
        if (std::find(seen.begin(), seen.end(), RealPath(path)) != seen.end()) continue;
        found.push_back({"AT modem on " + path, path, telephony::kDefaultInit});
    }
    return found;
}

int FindModemByPath(const std::vector<TelephonyModem>& modems, const std::string& path) {
    if (path.empty()) return -1;
    for (size_t i = 0; i < modems.size(); ++i)
        if (modems[i].path == path) return static_cast<int>(i);
    const std::string real = RealPath(path);
    for (size_t i = 0; i < modems.size(); ++i)
        if (!modems[i].path.empty() && RealPath(modems[i].path) == real) return static_cast<int>(i);
    return -1;
}

std::vector<TelephonyModem> TelephonyModems() {
    std::vector<TelephonyModem> modems = ConfiguredModems();
    for (TelephonyModem& m : DetectSerialModems("/dev"))
        if (FindModemByPath(modems, m.path) < 0) modems.push_back(std::move(m));
    return modems;
}

void StoreTelephonyModems(const std::vector<TelephonyModem>& modems) {
    Profile& p = Profile::get();
    p.writeInt(telephony::kSection, telephony::kKeyCount, static_cast<int>(modems.size()));
    for (size_t i = 0; i < modems.size(); ++i) {
        const std::string k = std::to_string(i);
        p.writeString(telephony::kSection, "Name" + k, modems[i].name);
        p.writeString(telephony::kSection, "Path" + k, modems[i].path);
        p.writeString(telephony::kSection, "Init" + k, modems[i].init);
    }
}
