// The monotonic clock on Windows: the performance counter.
#include "platform/clock.h"

#include <kiru/win_types.h>

namespace kiru::platform {
namespace {

struct Counter {
    LARGE_INTEGER origin;
    LARGE_INTEGER frequency;
    Counter() {
        // Both calls always succeed on systems since Windows XP.
        ::QueryPerformanceFrequency(&frequency);
        ::QueryPerformanceCounter(&origin);
    }
};

// Function-local so that a reading taken during another file's static
// initialisation still sees a valid origin.
const Counter& Origin() {
    static const Counter counter;
    return counter;
}

// Fix the origin at load time rather than at the first reading.
[[maybe_unused]] const Counter& kLoadTime = Origin();

std::int64_t Ticks() {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart - Origin().origin.QuadPart;
}

}  // namespace

double NowMs() { return static_cast<double>(Ticks()) * 1000.0 / static_cast<double>(Origin().frequency.QuadPart); }

std::int64_t NowUs() {
    const std::int64_t ticks = Ticks();
    const std::int64_t frequency = Origin().frequency.QuadPart;
    // Split to keep ticks * 1e6 from overflowing after long uptimes.
    return ticks / frequency * 1000000 + ticks % frequency * 1000000 / frequency;
}

}  // namespace kiru::platform
