#include "dns/route_interface.h"

#include "control/default_route.h"
#include "core/unicode_text.h"

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

}  // namespace orlune
