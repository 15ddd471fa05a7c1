#include "dns/route_interface.h"

#include <cstdlib>
#include <exception>

#include "main/unicode_text.h"

namespace orlune {

std::optional<std::string> parseIpRouteGet(std::string_view output) {
    for (auto line : UnicodeText::splitLines(output)) {
        const auto words = UnicodeText::words(line);
        for (std::size_t i = 0; i + 1 < words.size(); ++i) {
            if (words[i] == "dev") return std::string(words[i + 1]);
        }
    }
    return std::nullopt;
}

std::optional<std::string> parseRouteGet(std::string_view output) {
    for (auto line : UnicodeText::splitLines(output)) {
        const auto begin = line.find_first_not_of(" \t");
        if (begin == std::string_view::npos) continue;
        const auto end = line.find_last_not_of(" \t");
        const auto trimmed = line.substr(begin, end - begin + 1);
        if (!trimmed.starts_with("interface:")) continue;
        const auto words = UnicodeText::words(trimmed);
        if (words.empty()) return std::nullopt;
        return std::string(words.back());
    }
    return std::nullopt;
}

std::optional<std::string> parseWholeDefaultRoute(std::string_view output) {
    std::optional<std::string> lowHalf;
    std::optional<std::string> highHalf;
    std::optional<std::string> defaultRoute;
    long defaultMetric = 0;
    for (auto line : UnicodeText::splitLines(output)) {
        const auto words = UnicodeText::words(line);
        if (words.empty()) continue;
        std::optional<std::string> device;
        long metric = 0;
        for (std::size_t i = 1; i + 1 < words.size(); ++i) {
            if (words[i] == "dev") device = std::string(words[i + 1]);
            if (words[i] == "metric") metric = std::strtol(std::string(words[i + 1]).c_str(), nullptr, 10);
        }
        if (!device) continue;
        if (words[0] == "0.0.0.0/1") {
            lowHalf = device;
        } else if (words[0] == "128.0.0.0/1") {
            highHalf = device;
        } else if ((words[0] == "default" || words[0] == "0.0.0.0/0") && (!defaultRoute || metric < defaultMetric)) {
            defaultRoute = device;
            defaultMetric = metric;
        }
    }
    // Both halves outrank any default route; one half alone leaves the other half elsewhere.
    if (lowHalf || highHalf) return lowHalf == highHalf ? lowHalf : std::nullopt;
    return defaultRoute;
}

std::optional<std::string> routeInterface(ToolRunner& runner) {
    try {
#if defined(__APPLE__)
        return parseRouteGet(runner.run("/sbin/route", {"-n", "get", "1.1.1.1"}));
#else
        return parseWholeDefaultRoute(runner.run("/sbin/ip", {"-4", "route", "show", "table", "main"}));
#endif
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace orlune
