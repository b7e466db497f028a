#pragma once

// Medians, and the timing of one of ours against its baseline in the same run.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

namespace zorvik::bench {

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

struct Medians final {
    double ours_ms = 0;
    double baseline_ms = 0;
};

// Times `ours` and `baseline` `runs` times each; nothing once either says it failed. One
// untimed round each first, then alternately, so a noisy moment hurts both sides alike.
inline std::optional<Medians> alternate_medians(int runs, const std::function<bool()>& ours,
                                                const std::function<bool()>& baseline) {
    using Clock = std::chrono::steady_clock;
    std::vector<double> ours_ms;
    std::vector<double> base_ms;
    bool ok = ours() && baseline();
    for (int r = 0; r < runs && ok; ++r) {
        auto start = Clock::now();
        ok = ok && ours();
        ours_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        start = Clock::now();
        ok = ok && baseline();
        base_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    if (!ok) {
        return std::nullopt;
    }
    return Medians{median(ours_ms), median(base_ms)};
}

} // namespace zorvik::bench
