#pragma once

#include <chrono>

namespace orlune {

// Time since the system started, counting the time it was suspended, and never set or
// adjusted: what intervals of real time (hiding a relay for 30 minutes, a catalog's age) are
// measured with. The wall clock jumps; the plain monotonic clock stops while suspended.
std::chrono::milliseconds elapsedSinceBoot();

}  // namespace orlune
