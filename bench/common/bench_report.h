#pragma once

// One machine-readable line per measure, beside each benchmark's own table, so that
// scripts/bench.sh can gather every benchmark into one table:
//   BENCH<TAB>measure<TAB>ours<TAB>baseline name<TAB>baseline<TAB>ratio<TAB>goal<TAB>met|MISSED|-

#include <cstdio>
#include <string>

namespace zorvik::bench {

inline void report(const std::string& measure, const std::string& ours,
                   const std::string& baseline_name, const std::string& baseline, double ratio,
                   const std::string& goal, const char* verdict) {
    std::printf("BENCH\t%s\t%s\t%s\t%s\t%.2fx\t%s\t%s\n", measure.c_str(), ours.c_str(),
                baseline_name.c_str(), baseline.c_str(), ratio, goal.c_str(), verdict);
    std::fflush(stdout);
}

inline const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

inline std::string format(const char* fmt, double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, value);
    return buf;
}

} // namespace zorvik::bench
