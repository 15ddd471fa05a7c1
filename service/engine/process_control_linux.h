#pragma once

#include "engine/process_control.h"

namespace orlune {

class SteadyClock final : public Clock {
public:
    TimePoint now() override;
    void sleepFor(std::chrono::milliseconds duration) override;
};

// Children are started with posix_spawn: default signal dispositions and an empty signal mask
// (the service ignores SIGPIPE, which would otherwise be inherited), a process group of their
// own (a terminal's Ctrl-C reaches the service, which then stops the engine in order), and no
// descriptor of the service besides the three standard streams.
class LinuxProcessControl final : public ProcessControl {
public:
    std::unique_ptr<ChildProcess> launch(const LaunchRequest& request) override;
    bool exists(pid_t pid) override;
    UniqueFd watch(pid_t pid) override;
    void signal(pid_t pid, int signal) override;
    std::optional<std::string> commandLine(pid_t pid) override;
};

}  // namespace orlune
