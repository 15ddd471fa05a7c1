#pragma once

#include <stdexcept>

namespace orlune {

// Thrown by a start-up recovery that found the tunnel held by another live process of the
// app: the tunnel is left running, and the text says by whom.
class TunnelHeldElsewhere : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace orlune
