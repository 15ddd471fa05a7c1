#include "engine/process_control_linux.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

#include "control/unique_fd.h"
#include "main/descriptor_reading.h"

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
    // The pidfd is opened before anyone can reap the child, so it names this very process.
    explicit SpawnedProcess(pid_t pid) : pid_(pid), exitFd_(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))) {}
    ~SpawnedProcess() override {
        // Never leave a child behind, even when the owner of this handle forgot to stop it.
        if (!reaped_) {
            ::kill(pid_, SIGKILL);
            waitForExit();
        }
    }
    pid_t pid() const override { return pid_; }
    bool isRunning() override {
        if (reaped_) return false;
        int status = 0;
        pid_t result;
        do {
            result = ::waitpid(pid_, &status, WNOHANG);
        } while (result < 0 && errno == EINTR);
        if (result == 0) return true;
        reaped_ = true;
        return false;
    }
    void signal(int signal) override {
        if (!reaped_) ::kill(pid_, signal);
    }
    void waitForExit() override {
        if (reaped_) return;
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
    }
    // The pidfd turns readable when the process ends, so a stop returns as soon as the engine
    // has ended instead of at the next look. Kernels without pidfds (before 5.3) pause instead.
    bool waitForExitWithin(std::chrono::milliseconds limit) override {
        if (reaped_) return true;
        if (!exitFd_) return false;
        pollfd ended{exitFd_.get(), POLLIN, 0};
        (void)::poll(&ended, 1, static_cast<int>(limit.count()));
        return true;
    }

private:
    pid_t pid_;
    UniqueFd exitFd_;
    bool reaped_ = false;
};

// posix_spawn's attribute and action objects, released on every path.
struct SpawnSetup {
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    SpawnSetup() {
        posix_spawnattr_init(&attributes);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

Clock::TimePoint SteadyClock::now() { return std::chrono::steady_clock::now(); }

void SteadyClock::sleepFor(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

std::unique_ptr<ChildProcess> LinuxProcessControl::launch(const LaunchRequest& request) {
    SpawnSetup setup;
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &all);
    posix_spawnattr_setpgroup(&setup.attributes, 0);
    posix_spawnattr_setflags(&setup.attributes,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, request.output, 1);
    posix_spawn_file_actions_adddup2(&setup.actions, request.output, 2);
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(request.executable.c_str()));
    for (const std::string& argument : request.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& variable : request.environment) envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);

    pid_t pid = -1;
    int error = ::posix_spawn(&pid, request.executable.c_str(), &setup.actions, &setup.attributes, argv.data(),
                              envp.data());
    if (error != 0) throw std::system_error(error, std::generic_category(), "Could not start " + request.executable);
    return std::make_unique<SpawnedProcess>(pid);
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

UniqueFd LinuxProcessControl::watch(pid_t pid) { return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))); }

void LinuxProcessControl::signal(pid_t pid, int signal) { (void)::kill(pid, signal); }

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
