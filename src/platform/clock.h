// The monotonic clock that timed outputs and frame-rate figures are read
// from. Readings are relative to one fixed origin taken when the library is
// loaded, so they stay small enough for a double to keep sub-microsecond
// resolution for years.
#pragma once

#include <cstdint>

namespace kiru::platform {

// Milliseconds since the origin, with fractions.
double NowMs();

// Whole microseconds since the same origin.
std::int64_t NowUs();

}  // namespace kiru::platform

// Code written against the global names finds the same functions.
using kiru::platform::NowMs;
using kiru::platform::NowUs;
