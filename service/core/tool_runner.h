#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace orlune {

// How long a system tool may run and how the runner waits for it. One place for all three, so
// the service and its tests agree on them; tests pass shorter values to keep the kill path fast.
struct ToolTimings {
    // Counted from the moment the tool's standard input has been closed.
    std::chrono::milliseconds timeLimit{4000};
    // The longest the runner waits before it looks again whether the tool has ended; where the
    // kernel can tell the end (a pidfd), the runner wakes at once.
    std::chrono::milliseconds pollInterval{25};
    // Between the terminate request and the kill.
    std::chrono::milliseconds killPause{100};
};

inline constexpr ToolTimings kToolTimings{};

// The whole environment of every tool, and of the engine: nothing is inherited from the service.
// It names the platform's home of root (tool_runner_<platform>.cpp).
const std::vector<std::string>& toolEnvironment();

// Runs a system tool to completion and returns its standard output.
//
// Failures throw ServiceFailure with kNetworkCommandFailed: a tool that cannot be started, whose
// input cannot be written, that exits with a status other than 0, or that overruns the time limit
// (it is then terminated, and killed 0.1 s later), whatever it printed; the detail names the tool
// and the system's error where there is one. Output that is not valid
// UTF-8 is returned as empty text. Standard error is discarded.
class ToolRunner {
public:
    virtual ~ToolRunner() = default;
    virtual std::string run(const std::string& executable, const std::vector<std::string>& arguments,
                            const std::optional<std::string>& input = std::nullopt) = 0;
};

// The real runner: a child process with three pipes, the fixed environment and no other
// descriptor of the service. It reaps its child on every path, so it relies on SIGCHLD not being
// set to SIG_IGN. Blocks the calling thread for at most about the time limit plus the kill pause.
class SystemToolRunner final : public ToolRunner {
public:
    explicit SystemToolRunner(ToolTimings timings = kToolTimings) : timings_(timings) {}

    std::string run(const std::string& executable, const std::vector<std::string>& arguments,
                    const std::optional<std::string>& input = std::nullopt) override;

    // More standard output than this is not kept: the call then fails like a failed tool, rather
    // than growing without bound or returning a truncated answer.
    static constexpr std::size_t kOutputLimit = 4 * 1024 * 1024;

private:
    ToolTimings timings_;
};

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUtf8(std::string_view text);

}  // namespace orlune
