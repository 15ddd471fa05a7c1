#pragma once

#include <signal.h>

#include <cerrno>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/service_failure.h"
#include "engine/process_control.h"

namespace orlune::testing {

// A clock that moves only when somebody sleeps or a test advances it.
class FakeClock final : public Clock {
public:
    TimePoint now() override { return now_; }
    void sleepFor(std::chrono::milliseconds duration) override {
        now_ += duration;
        slept_ += duration;
        if (onSleep) onSleep();
    }
    void advance(std::chrono::milliseconds duration) { now_ += duration; }
    std::chrono::milliseconds slept() const { return slept_; }
    std::function<void()> onSleep;

private:
    TimePoint now_{std::chrono::hours(1)};
    std::chrono::milliseconds slept_{0};
};

// A child whose reaction to signals the test chooses.
struct FakeChild final : ChildProcess {
    struct State {
        pid_t pid = 0;
        bool running = true;
        bool ignoresTerm = false;
        int termsToEnd = 1;  // an engine that notifies its relay first ends at the second
        std::vector<int> signals;
        bool waited = false;
    };
    explicit FakeChild(std::shared_ptr<State> shared) : state(std::move(shared)) {}
    pid_t pid() const override { return state->pid; }
    bool isRunning() override { return state->running; }
    void signal(int signal) override {
        if (!state->running) return;
        state->signals.push_back(signal);
        if (signal == SIGKILL || (signal == SIGTERM && !state->ignoresTerm && --state->termsToEnd <= 0)) {
            state->running = false;
        }
    }
    void waitForExit() override {
        state->waited = true;
        state->running = false;
    }
    std::shared_ptr<State> state;
};

class FakeProcessControl final : public ProcessControl {
public:
    std::unique_ptr<ChildProcess> launch(const LaunchRequest& request) override {
        launches.push_back(request);
        if (launchError)
            throw ServiceFailure::system(kEngineStartFailed, ENOENT, "Could not start " + request.executable);
        auto state = std::make_shared<FakeChild::State>();
        state->pid = nextPid++;
        children.push_back(state);
        return std::make_unique<FakeChild>(state);
    }
    bool exists(pid_t pid) override { return alive.count(pid) != 0; }
    void signal(pid_t pid, int signal) override {
        signals.emplace_back(pid, signal);
        if (signal == SIGKILL || (signal == SIGTERM && !ignoresTerm.count(pid))) alive.erase(pid);
    }
    std::optional<std::string> commandLine(pid_t pid) override {
        auto found = commandLines.find(pid);
        if (found == commandLines.end() || !alive.count(pid)) return std::nullopt;
        return found->second;
    }

    bool launchError = false;
    pid_t nextPid = 5000;
    std::vector<LaunchRequest> launches;
    std::vector<std::shared_ptr<FakeChild::State>> children;
    std::map<pid_t, bool> alive;  // other processes by id
    std::map<pid_t, bool> ignoresTerm;
    std::map<pid_t, std::string> commandLines;
    std::vector<std::pair<pid_t, int>> signals;
};

}  // namespace orlune::testing
