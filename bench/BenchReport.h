// What the flood benchmarks print at their end: the median of the rounds' ratios
// beside its goal, and the load average the figures were taken under.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

inline const char* Met(bool met) { return met ? "met" : "NOT MET"; }

// The middle of the values (the mean of the two middle ones for an even count); 0 for none.
inline double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t k = v.size();
    return k % 2 ? v[k / 2] : (v[k / 2 - 1] + v[k / 2]) / 2;
}

inline void PrintLoadAverage(const char* indent = "") {
    double load[3] = {0, 0, 0};
    if (::getloadavg(load, 3) > 0) std::printf("%sload average %.2f %.2f %.2f\n", indent, load[0], load[1], load[2]);
}
