#include "dns/route_interface.h"

#include <exception>

namespace orlune {

std::optional<std::string> routeInterface(ToolRunner& runner) {
    try {
        return parseWholeDefaultRoute(runner.run("/sbin/ip", {"-4", "route", "show", "table", "main"}));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace orlune
