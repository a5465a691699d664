// The serial devices present on this computer, offered by Serial Port Configure.
// Plain C++; any thread.
#pragma once

#include <string>
#include <vector>

// Paths under devRoot: "serial/by-id/*" (stable names of USB adapters), then "ttyUSB*",
// "ttyACM*" and "ttyS*", each group in natural order (ttyS2 before ttyS10). Empty when
// there are none or devRoot cannot be read.
std::vector<std::string> ListSerialDevices(const std::string& devRoot = "/dev");
// Device names in the order people count: "ttyS2" before "ttyS10" (runs of digits
// compare by value).
bool NaturalLess(const std::string& a, const std::string& b);
