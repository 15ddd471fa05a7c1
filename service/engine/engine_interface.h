#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/tool_runner.h"

namespace orlune {

// File names inside the state directory that belong to the engine.
inline constexpr std::string_view kEngineConfigurationName = "session.ovpn";
inline constexpr std::string_view kEngineLogName = "engine.log";
inline constexpr std::string_view kEnginePidName = "engine.pid";
inline constexpr std::string_view kEngineManagementName = "management.sock";

// The do-nothing command given to the engine as its DNS hook: the service switches DNS itself.
// Where it lives depends on the platform (engine_interface_<platform>.cpp).
extern const std::string_view kEngineDnsHook;

// How the engine is started: the executable and the arguments after it.
struct EngineCommand {
    std::string executable;
    std::vector<std::string> arguments;

    friend bool operator==(const EngineCommand&, const EngineCommand&) = default;
};

// The engine's version from the first line of its "--version" output ("OpenVPN 2.6.14 x86_64…"),
// or none when that line does not name one.
std::optional<std::string> parseEngineVersion(std::string_view versionOutput);

// Asks the installed engine for its version once. An engine that cannot be run or does not
// answer in the expected form is reported as kDefaultEngineVersion.
std::string probeEngineVersion(ToolRunner& runner, const std::string& enginePath);

// Whether this version knows "--dns-updown" (2.7 and newer); older engines refuse to start with
// it and leave DNS alone anyway.
bool acceptsDnsHook(std::string_view version);

// The command line: the configuration file, script security 2 and, where the engine knows it,
// the do-nothing DNS hook.
EngineCommand engineCommand(const std::string& enginePath, const std::string& configurationPath,
                            std::string_view version);

}  // namespace orlune
