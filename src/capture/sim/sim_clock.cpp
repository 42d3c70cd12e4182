#include "capture/sim/sim_clock.h"

#include "platform/clock.h"

namespace kiru::sim {

std::int64_t NowUs() { return kiru::platform::NowUs(); }

}  // namespace kiru::sim
