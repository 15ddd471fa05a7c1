#include "engine/engine_interface.h"

#include <charconv>
#include <exception>

#include "control/native_messages.h"
#include "core/unicode_text.h"

namespace orlune {
namespace {

// The leading "major.minor" of a version text such as "2.6.14" or "2.7_rc2".
std::optional<std::pair<int, int>> majorMinor(std::string_view version) {
    if (version.empty() || version.front() < '0' || version.front() > '9') return std::nullopt;
    int major = 0;
    int minor = 0;
    const char* end = version.data() + version.size();
    auto [afterMajor, majorError] = std::from_chars(version.data(), end, major);
    if (majorError != std::errc() || afterMajor == end || *afterMajor != '.') return std::nullopt;
    auto [afterMinor, minorError] = std::from_chars(afterMajor + 1, end, minor);
    if (minorError != std::errc()) return std::nullopt;
    return std::pair{major, minor};
}

}  // namespace

std::optional<std::string> parseEngineVersion(std::string_view versionOutput) {
    const auto lines = UnicodeText::splitLines(versionOutput);
    if (lines.empty()) return std::nullopt;
    const auto words = UnicodeText::words(lines.front());
    if (words.size() < 2 || words[0] != "OpenVPN" || !majorMinor(words[1])) return std::nullopt;
    return std::string(words[1]);
}

std::string probeEngineVersion(ToolRunner& runner, const std::string& enginePath) {
    try {
        if (auto version = parseEngineVersion(runner.run(enginePath, {"--version"}))) return *version;
    } catch (const std::exception&) {
        // An engine that cannot say its version is reported with the default one; whether it can
        // run at all shows when a tunnel is started.
    }
    return std::string(kDefaultEngineVersion);
}

bool acceptsDnsHook(std::string_view version) {
    const auto parts = majorMinor(version);
    if (!parts) return false;
    return parts->first > 2 || (parts->first == 2 && parts->second >= 7);
}

EngineCommand engineCommand(const std::string& enginePath, const std::string& configurationPath,
                            std::string_view version) {
    EngineCommand command{enginePath, {"--config", configurationPath}};
    // Running programs is allowed only for the hook that needs it.
    if (acceptsDnsHook(version)) {
        command.arguments.emplace_back("--script-security");
        command.arguments.emplace_back("2");
        command.arguments.emplace_back("--dns-updown");
        command.arguments.emplace_back(kEngineDnsHook);
    }
    return command;
}

}  // namespace orlune
