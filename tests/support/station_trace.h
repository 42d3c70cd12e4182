// Searches of the simulated station's trace, shared by the back-end tests.
#pragma once

#include <kiru/station.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace kiru_test {

using TraceLines = std::vector<std::string>;

// True when `lines` appear in the trace in this order (others may come between).
inline bool TracedInOrder(const TraceLines& lines) {
    const TraceLines trace = kiru::sim::Station::Trace();
    auto at = trace.begin();
    for (const std::string& line : lines) {
        at = std::find(at, trace.end(), line);
        if (at == trace.end()) return false;
        ++at;
    }
    return true;
}
inline bool Traced(const std::string& line) { return TracedInOrder({line}); }
// Position of a trace line (-1 when absent).
inline long TraceIndex(const std::string& line) {
    const TraceLines trace = kiru::sim::Station::Trace();
    auto it = std::find(trace.begin(), trace.end(), line);
    return it == trace.end() ? -1 : static_cast<long>(it - trace.begin());
}
// Trace lines starting with `prefix`, in order.
inline TraceLines TracedLines(const std::string& prefix) {
    TraceLines out;
    for (const std::string& line : kiru::sim::Station::Trace())
        if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
    return out;
}
inline bool TracedWith(const std::string& prefix) { return !TracedLines(prefix).empty(); }
// The numbers after `prefix` on each trace line that starts with it.
inline std::vector<std::vector<long long>> TracedNumbers(const std::string& prefix) {
    std::vector<std::vector<long long>> out;
    for (const std::string& line : TracedLines(prefix)) {
        std::istringstream rest(line.substr(prefix.size()));
        out.emplace_back();
        for (long long n = 0; rest >> n;) out.back().push_back(n);
    }
    return out;
}

}  // namespace kiru_test
