// The data modems the telephony layer offers: those of settings section "Telephony"
// ("Modems" (count), then "Name<n>", "Path<n>" and "Init<n>" for n = 0..count-1, the
// device ID), followed by the serial devices detected that none of them names,
// initialised with "ATZ".
#pragma once

#include <string>
#include <vector>

namespace telephony {
inline constexpr const char* kSection = "Telephony";
inline constexpr const char* kKeyCount = "Modems";
inline constexpr const char* kDefaultInit = "ATZ";
} // namespace telephony

// One data modem as settings describe it.
struct TelephonyModem {
    std::string name;
    std::string path;
    std::string init;
};
// The modems offered, in device-ID order: those of settings, then every serial
// device detected that none of them names.
std::vector<TelephonyModem> TelephonyModems();
// The modems of settings only.
std::vector<TelephonyModem> ConfiguredModems();
// Serial devices under devRoot a modem may sit on: serial/by-id/* (preferred, they
// keep their name when replugged), then ttyACM* and ttyUSB* that no by-id name
// reaches, in natural order (ttyACM2 before ttyACM10).
std::vector<TelephonyModem> DetectSerialModems(const std::string& devRoot);
// The position of the modem on that device (any name of it), or -1.
int FindModemByPath(const std::vector<TelephonyModem>& modems, const std::string& path);
// Writes the whole list into settings (the section then exists).
void StoreTelephonyModems(const std::vector<TelephonyModem>& modems);
