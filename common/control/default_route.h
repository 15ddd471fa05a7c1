#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orlune {

// The device that carries the whole IPv4 default route in `ip -4 route show` output: that of
// both halves 0.0.0.0/1 and 128.0.0.0/1 when they are there (none when they differ or one is
// missing), else that of the default route of least metric. A route to one address proves
// nothing about the rest: a relay could have routed only that one through itself.
std::optional<std::string> parseWholeDefaultRoute(std::string_view output);

}  // namespace orlune
