// The station's monotonic clock in microseconds: frame arrival times, board
// script times and pulse times all use it, and it is the clock the grab
// back-ends read, so that "now" and a frame's arrival time compare directly.
#pragma once

#include <cstdint>

namespace kiru::sim {

std::int64_t NowUs();

}  // namespace kiru::sim
