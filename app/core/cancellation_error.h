#pragma once

#include <exception>

namespace orlune {

// A connect attempt that a newer connect or a disconnect superseded. Not a TunnelError on
// purpose: it says nothing about the relay, so callers neither show nor hide anything for it.
class CancellationError : public std::exception {
public:
    const char* what() const noexcept override { return "The connection attempt was superseded."; }
};

}  // namespace orlune
