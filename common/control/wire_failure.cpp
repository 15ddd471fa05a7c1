#include "control/wire_failure.h"

#include "texts/platform_texts.h"

namespace orlune {

const char* WireFailure::what() const noexcept {
    switch (kind_) {
    case Kind::unavailable:
        // The table's views point at string literals, so they are NUL-terminated.
        return kPlatformTexts.serviceUnavailable.data();
    case Kind::invalid:
        return "The local VPN service returned an invalid or incomplete response.";
    }
    return "";
}

}  // namespace orlune
