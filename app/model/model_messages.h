#pragma once

// Helpers shared by the model's source files; not part of its interface.

#include <QString>

#include <exception>
#include <optional>

#include "core/tunnel_error.h"

namespace orlune::model_detail {

// The user-facing sentence of any failure.
inline QString describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const TunnelError& tunnelError) {
        return QString::fromStdString(tunnelError.errorDescription());
    } catch (const std::exception& other) {
        return QString::fromUtf8(other.what());
    } catch (...) {
        return QStringLiteral("An unexpected error occurred.");
    }
}

inline QString describe(TunnelError::Kind kind) {
    return QString::fromStdString(TunnelError(kind).errorDescription());
}

inline std::optional<TunnelError::Kind> tunnelErrorKind(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const TunnelError& tunnelError) {
        return tunnelError.kind();
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace orlune::model_detail
