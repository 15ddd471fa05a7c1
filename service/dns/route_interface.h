#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "control/default_route.h"
#include "core/tool_runner.h"

namespace orlune {

// The interface that carries the whole IPv4 default route (a tunnel's, such as tun0, while one
// is up), or none when it cannot be learned or is split between interfaces. A route to one
// address proves nothing: a relay could have routed only that one through itself. Looks up the
// kernel's routes only; nothing is sent. Never throws.
std::optional<std::string> routeInterface(ToolRunner& runner);

// "ip -4 route get" output: the word after "dev".
std::optional<std::string> parseIpRouteGet(std::string_view output);
// "route -n get" output (macOS): the last word of the first line that begins with "interface:".
std::optional<std::string> parseRouteGet(std::string_view output);

}  // namespace orlune
