// Summary of a latency benchmark's samples (microseconds): count, minimum,
// median, 99th percentile and maximum, and the counters every latency
// benchmark reports them under.
//
// Percentiles are nearest-rank: the p-quantile of n sorted samples is the
// sample at rank ceil(p * n) (1-based); the median of an even count is the
// mean of the two middle samples.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

struct LatencyStats {
    std::size_t count = 0;
    double minUs = 0, medianUs = 0, p99Us = 0, maxUs = 0;
};

// The nearest-rank p-quantile (0 < p <= 1) of samples sorted ascending; 0 when empty.
inline double NearestRank(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(sorted.size())));
    return sorted[std::min(sorted.size(), std::max<std::size_t>(rank, 1)) - 1];
}

// Sorts its own copy of the samples; all zero when there are none.
inline LatencyStats SummarizeLatencies(std::vector<double> samplesUs) {
    LatencyStats s;
    if (samplesUs.empty()) return s;
    std::sort(samplesUs.begin(), samplesUs.end());
    const std::size_t n = samplesUs.size();
    s.count = n;
    s.minUs = samplesUs.front();
    s.medianUs = n % 2 ? samplesUs[n / 2] : 0.5 * (samplesUs[n / 2 - 1] + samplesUs[n / 2]);
    s.p99Us = NearestRank(samplesUs, 0.99);
    s.maxUs = samplesUs.back();
    return s;
}

// Reports median_us, p99_us and max_us on the benchmark's state.
inline void SetLatencyCounters(benchmark::State& state, const LatencyStats& s) {
    state.counters["median_us"] = s.medianUs;
    state.counters["p99_us"] = s.p99Us;
    state.counters["max_us"] = s.maxUs;
}
