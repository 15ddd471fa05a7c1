#pragma once

#include <exception>

#include "core/cancellation_error.h"

namespace orlune {

// Whether `error` says that an attempt was superseded rather than failed.
inline bool isCancellation(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const CancellationError&) {
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace orlune
