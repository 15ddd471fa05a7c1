#include "core/process_spawn.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "core/service_failure.h"

namespace orlune {
namespace {

// posix_spawn's attribute and action objects, released on every path.
class SpawnSetup {
public:
    SpawnSetup() {
        posix_spawnattr_init(&attributes_);
        posix_spawn_file_actions_init(&actions_);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attributes_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // 0 or the first error of the steps.
    int prepare(const SpawnStreams& streams) {
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        if (streams.ownProcessGroup) flags |= POSIX_SPAWN_SETPGROUP;
        int error = posix_spawnattr_setsigmask(&attributes_, &none);
        if (!error) error = posix_spawnattr_setsigdefault(&attributes_, &all);
        if (!error && streams.ownProcessGroup) error = posix_spawnattr_setpgroup(&attributes_, 0);
        if (!error) error = posix_spawnattr_setflags(&attributes_, flags);
        if (!error) error = stream(streams.input, STDIN_FILENO, O_RDONLY);
        if (!error) error = stream(streams.output, STDOUT_FILENO, O_WRONLY);
        if (!error) error = stream(streams.error, STDERR_FILENO, O_WRONLY);
        // Descriptors the service opened without close-on-exec stay out of the child as well.
        if (!error) error = posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
        return error;
    }

    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

private:
    // The descriptors given never sit on 0, 1 or 2 themselves, since dup2 onto the same number
    // would keep their close-on-exec flag and leave the child without that stream.
    int stream(int from, int to, int mode) {
        if (from < 0) return posix_spawn_file_actions_addopen(&actions_, to, "/dev/null", mode, 0);
        return posix_spawn_file_actions_adddup2(&actions_, from, to);
    }

    posix_spawnattr_t attributes_{};
    posix_spawn_file_actions_t actions_{};
};

std::vector<char*> pointers(const std::vector<std::string>& words, const std::string* first) {
    std::vector<char*> result;
    if (first) result.push_back(const_cast<char*>(first->c_str()));
    for (const std::string& word : words) result.push_back(const_cast<char*>(word.c_str()));
    result.push_back(nullptr);
    return result;
}

}  // namespace

pid_t spawnProcess(const std::string& executable, const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment, const SpawnStreams& streams, const char* sentence) {
    SpawnSetup setup;
    if (const int error = setup.prepare(streams)) {
        throw ServiceFailure::system(sentence, error, "Could not prepare " + executable);
    }
    std::vector<char*> argv = pointers(arguments, &executable);
    std::vector<char*> envp = pointers(environment, nullptr);
    pid_t pid = -1;
    if (const int error =
            ::posix_spawn(&pid, executable.c_str(), setup.actions(), setup.attributes(), argv.data(), envp.data())) {
        throw ServiceFailure::system(sentence, error, "Could not start " + executable);
    }
    return pid;
}

UniqueFd openProcessHandle(pid_t pid) {
    return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
}

SpawnedChild::~SpawnedChild() {
    if (reaped_) return;
    ::kill(pid_, SIGKILL);
    wait();
}

bool SpawnedChild::poll() {
    if (reaped_) return true;
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(pid_, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == 0) return false;
    reaped_ = true;
    status_ = result == pid_ ? status : -1;
    return true;
}

void SpawnedChild::wait() {
    if (reaped_) return;
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(pid_, &status, 0);
    } while (result < 0 && errno == EINTR);
    reaped_ = true;
    status_ = result == pid_ ? status : -1;
}

bool SpawnedChild::waitWithin(std::chrono::milliseconds limit) {
    if (reaped_) return true;
    if (!exitFd_) return false;
    pollfd ended{exitFd_.get(), POLLIN, 0};
    (void)::poll(&ended, 1, static_cast<int>(limit.count()));
    return true;
}

void SpawnedChild::signal(int signal) {
    if (!reaped_) ::kill(pid_, signal);
}

bool SpawnedChild::succeeded() const {
    return reaped_ && status_ >= 0 && WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
}

}  // namespace orlune
