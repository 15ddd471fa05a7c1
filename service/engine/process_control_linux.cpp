#include "engine/process_control_linux.h"

#include <fcntl.h>
#include <signal.h>

#include <cerrno>
#include <thread>

#include "control/unique_fd.h"
#include "core/descriptor_reading.h"
#include "core/process_spawn.h"

namespace orlune {
namespace {

std::optional<std::string> readProcFile(pid_t pid, const char* name) {
    const std::string path = "/proc/" + std::to_string(pid) + "/" + name;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return std::nullopt;
    return readToEnd(fd.get(), 1 << 20);
}

class SpawnedProcess final : public ChildProcess {
public:
    explicit SpawnedProcess(pid_t pid) : child_(pid) {}
    pid_t pid() const override { return child_.pid(); }
    bool isRunning() override { return !child_.poll(); }
    void signal(int signal) override { child_.signal(signal); }
    void waitForExit() override { child_.wait(); }
    // A stop returns as soon as the engine has ended instead of at the next look.
    bool waitForExitWithin(std::chrono::milliseconds limit) override { return child_.waitWithin(limit); }

private:
    SpawnedChild child_;
};

}  // namespace

Clock::TimePoint SteadyClock::now() {
    return std::chrono::steady_clock::now();
}

void SteadyClock::sleepFor(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

std::unique_ptr<ChildProcess> LinuxProcessControl::launch(const LaunchRequest& request) {
    const SpawnStreams streams{.input = -1, .output = request.output, .error = request.output, .ownProcessGroup = true};
    return std::make_unique<SpawnedProcess>(
        spawnProcess(request.executable, request.arguments, request.environment, streams, kEngineStartFailed));
}

bool LinuxProcessControl::exists(pid_t pid) {
    if (::kill(pid, 0) != 0 && errno == ESRCH) return false;
    // A zombie has ended; only its parent's wait is missing, which may never come for an
    // orphan of an earlier service instance.
    std::optional<std::string> stat = readProcFile(pid, "stat");
    if (!stat) return true;
    std::size_t close = stat->rfind(')');
    return !(close != std::string::npos && close + 2 < stat->size() && (*stat)[close + 2] == 'Z');
}

UniqueFd LinuxProcessControl::watch(pid_t pid) {
    return openProcessHandle(pid);
}

void LinuxProcessControl::signal(pid_t pid, int signal) {
    (void)::kill(pid, signal);
}

std::optional<std::string> LinuxProcessControl::commandLine(pid_t pid) {
    std::optional<std::string> words = readProcFile(pid, "cmdline");
    if (!words) return std::nullopt;
    while (!words->empty() && words->back() == '\0') words->pop_back();
    for (char& c : *words) {
        if (c == '\0') c = ' ';
    }
    return words;
}

}  // namespace orlune
