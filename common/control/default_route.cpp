#include "control/default_route.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace orlune {
namespace {

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> result;
    while (!line.empty()) {
        const std::size_t start = line.find_first_not_of(" \t\r");
        if (start == std::string_view::npos) break;
        line.remove_prefix(start);
        const std::size_t end = std::min(line.find_first_of(" \t\r"), line.size());
        result.push_back(line.substr(0, end));
        line.remove_prefix(end);
    }
    return result;
}

}  // namespace

std::optional<std::string> parseWholeDefaultRoute(std::string_view output) {
    std::optional<std::string> lowHalf;
    std::optional<std::string> highHalf;
    std::optional<std::string> defaultRoute;
    long defaultMetric = 0;
    while (!output.empty()) {
        const std::size_t end = std::min(output.find('\n'), output.size());
        const auto fields = words(output.substr(0, end));
        output.remove_prefix(std::min(end + 1, output.size()));
        if (fields.empty()) continue;
        std::optional<std::string> device;
        long metric = 0;
        for (std::size_t i = 1; i + 1 < fields.size(); ++i) {
            if (fields[i] == "dev") device = std::string(fields[i + 1]);
            if (fields[i] == "metric") metric = std::strtol(std::string(fields[i + 1]).c_str(), nullptr, 10);
        }
        if (!device) continue;
        if (fields[0] == "0.0.0.0/1") {
            lowHalf = device;
        } else if (fields[0] == "128.0.0.0/1") {
            highHalf = device;
        } else if ((fields[0] == "default" || fields[0] == "0.0.0.0/0") && (!defaultRoute || metric < defaultMetric)) {
            defaultRoute = device;
            defaultMetric = metric;
        }
    }
    // Both halves outrank any default route; one half alone leaves the other half elsewhere.
    if (lowHalf || highHalf) return lowHalf == highHalf ? lowHalf : std::nullopt;
    return defaultRoute;
}

}  // namespace orlune
