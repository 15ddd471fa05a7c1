#pragma once

#include "engine/process_control.h"

namespace orlune {

class SteadyClock final : public Clock {
public:
    TimePoint now() override;
    void sleepFor(std::chrono::milliseconds duration) override;
};

// Children are started as spawnProcess starts them, in a process group of their own and with
// standard input on the null device.
class LinuxProcessControl final : public ProcessControl {
public:
    std::unique_ptr<ChildProcess> launch(const LaunchRequest& request) override;
    bool exists(pid_t pid) override;
    UniqueFd watch(pid_t pid) override;
    void signal(pid_t pid, int signal) override;
    std::optional<std::string> commandLine(pid_t pid) override;
};

}  // namespace orlune
