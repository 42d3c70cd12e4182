#include "platform/clock.h"

#include <chrono>

namespace kiru::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Function-local so that a reading taken during another file's static
// initialisation still sees a valid origin.
Clock::time_point Origin() {
    static const Clock::time_point origin = Clock::now();
    return origin;
}

// Fix the origin at load time rather than at the first reading.
[[maybe_unused]] const Clock::time_point kLoadTime = Origin();

}  // namespace

double NowMs() {
    return std::chrono::duration<double, std::milli>(Clock::now() - Origin()).count();
}

std::int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - Origin()).count();
}

}  // namespace kiru::platform
