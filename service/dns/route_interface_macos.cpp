#include "dns/route_interface.h"

#include <exception>

namespace orlune {

std::optional<std::string> routeInterface(ToolRunner& runner) {
    try {
        return parseRouteGet(runner.run("/sbin/route", {"-n", "get", "1.1.1.1"}));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace orlune
