#include "network/elapsed_time.h"

#include <time.h>

namespace orlune {

std::chrono::milliseconds elapsedSinceBoot() {
    timespec now{};
    // CLOCK_BOOTTIME cannot fail on any kernel this runs on (2.6.39 and later).
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return std::chrono::seconds(now.tv_sec) +
           std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::nanoseconds(now.tv_nsec));
}

}  // namespace orlune
