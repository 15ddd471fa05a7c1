#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/unique_fd.h"

namespace orlune {

// The sentence of an engine that could not be started: its program, its output pipe or its log.
inline constexpr const char* kEngineStartFailed = "The VPN engine could not be started.";

// Monotonic time and waiting, so supervision can be driven by a test's hand-turned clock.
class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~Clock() = default;
    virtual TimePoint now() = 0;
    virtual void sleepFor(std::chrono::milliseconds duration) = 0;
};

// A child process this service started. It is only ever signalled before it has been reaped,
// so a signal can never reach a process that reused its id.
class ChildProcess {
public:
    virtual ~ChildProcess() = default;
    virtual pid_t pid() const = 0;
    // Whether it still runs; an ended child is reaped here.
    virtual bool isRunning() = 0;
    // Sends `signal` unless it has already ended.
    virtual void signal(int signal) = 0;
    // Blocks until it has ended.
    virtual void waitForExit() = 0;
    // Waits up to `limit` for it to end, where the platform can wait for that. True when it has
    // waited (ended or not), false when it cannot and the caller must pause by itself.
    virtual bool waitForExitWithin(std::chrono::milliseconds limit) {
        (void)limit;
        return false;
    }
};

struct LaunchRequest {
    std::string executable;
    std::vector<std::string> arguments;    // without the program name
    std::vector<std::string> environment;  // the whole environment, "NAME=value"
    int output = -1;  // receives standard output and standard error; standard input is the null device
};

// The process operations supervision needs.
class ProcessControl {
public:
    virtual ~ProcessControl() = default;
    // Starts a child; throws ServiceFailure (kEngineStartFailed) when it cannot be started.
    virtual std::unique_ptr<ChildProcess> launch(const LaunchRequest& request) = 0;
    // The signal-0 probe: false only when no such process runs (an unreaped zombie counts as gone).
    virtual bool exists(pid_t pid) = 0;
    // A handle (pidfd) that names exactly this process for as long as it is held, and turns
    // readable when it ends; invalid where the platform has none, and the probe is used instead.
    virtual UniqueFd watch(pid_t pid) {
        (void)pid;
        return UniqueFd();
    }
    // Sends `signal` to a process that is not a child of this service; errors are dropped.
    virtual void signal(pid_t pid, int signal) = 0;
    // The process's command line, its words joined by spaces; none when it cannot be read.
    virtual std::optional<std::string> commandLine(pid_t pid) = 0;
};

}  // namespace orlune
