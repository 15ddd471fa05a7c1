#include "main/tool_runner.h"
#include "main/unicode_text.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <array>
#include <system_error>
#include <utility>

#include "control/unique_fd.h"
#include "main/service_failure.h"

namespace orlune {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void throwErrno(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

// A pipe whose ends close on exec and never sit on 0, 1 or 2: dup2 onto the same number would
// keep the close-on-exec flag and leave the child without that stream.
struct Pipe {
    UniqueFd read;
    UniqueFd write;
};

UniqueFd aboveStandardStreams(UniqueFd fd) {
    if (fd.get() > STDERR_FILENO) return fd;
    UniqueFd moved(::fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
    if (!moved) throwErrno(errno, "Could not create a pipe for a system tool");
    return moved;
}

Pipe makePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throwErrno(errno, "Could not create a pipe for a system tool");
    Pipe pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
    pipe.read = aboveStandardStreams(std::move(pipe.read));
    pipe.write = aboveStandardStreams(std::move(pipe.write));
    return pipe;
}

void setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        throwErrno(errno, "Could not prepare a pipe for a system tool");
    }
}

void pause(std::chrono::milliseconds duration) {
    timespec rest{static_cast<time_t>(duration.count() / 1000), static_cast<long>(duration.count() % 1000) * 1'000'000};
    while (::nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

int remainingMilliseconds(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

// The started tool. Whatever path leaves the runner, the process is killed if it still runs and
// reaped, so no zombie and no stray tool outlives a call.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {
#if defined(__linux__)
        // Readable once the process has ended, so the runner can wait for the end itself instead
        // of looking again after a fixed pause. Without it (kernels before 5.3) the pause remains.
        exitFd_ = UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
#endif
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (reaped_) return;
        ::kill(pid_, SIGKILL);
        waitBlocking();
    }

    pid_t pid() const { return pid_; }
    // A descriptor that becomes readable when the process ends, or -1.
    int exitFd() const { return exitFd_ ? exitFd_.get() : -1; }

    // True once the process has ended (and has been reaped).
    bool poll() {
        if (reaped_) return true;
        int status = 0;
        pid_t result;
        do {
            result = ::waitpid(pid_, &status, WNOHANG);
        } while (result < 0 && errno == EINTR);
        if (result == pid_ || (result < 0 && errno == ECHILD)) {
            reaped_ = true;
            status_ = result == pid_ ? status : -1;
        }
        return reaped_;
    }

    void waitBlocking() {
        if (reaped_) return;
        int status = 0;
        pid_t result;
        do {
            result = ::waitpid(pid_, &status, 0);
        } while (result < 0 && errno == EINTR);
        reaped_ = true;
        status_ = result == pid_ ? status : -1;
    }

    bool succeeded() const { return reaped_ && status_ >= 0 && WIFEXITED(status_) && WEXITSTATUS(status_) == 0; }

private:
    pid_t pid_;
    UniqueFd exitFd_;
    bool reaped_ = false;
    int status_ = -1;
};

// Collects standard output and throws standard error away, so that a talkative tool never
// blocks on a full pipe while the runner waits for it to end.
class OutputCollector {
public:
    OutputCollector(UniqueFd out, UniqueFd err) : out_(std::move(out)), err_(std::move(err)) {
        setNonBlocking(out_.get());
        setNonBlocking(err_.get());
    }

    // Waits up to `timeout` for output, or for `exitFd` (the tool's end, when known; -1 if not)
    // to become readable, and reads whatever is there. With both streams at their end and no
    // exit descriptor this is a plain pause.
    void pump(std::chrono::milliseconds timeout, int exitFd = -1) {
        std::array<pollfd, 3> fds{pollfd{out_ ? out_.get() : -1, POLLIN, 0},
                                  pollfd{err_ ? err_.get() : -1, POLLIN, 0}, pollfd{exitFd, POLLIN, 0}};
        if (!out_ && !err_ && exitFd < 0) {
            pause(timeout);
            return;
        }
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(timeout.count()));
        if (ready <= 0) return;
        drainAvailable();
    }

    // Reads everything that can be read without waiting.
    void drainAvailable() {
        drain(out_, true);
        drain(err_, false);
    }

    bool overflowed() const { return overflowed_; }
    std::string take() { return std::move(output_); }

private:
    void drain(UniqueFd& fd, bool keep) {
        if (!fd) return;
        char buffer[16384];
        for (;;) {
            const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
            if (n > 0) {
                if (!keep) continue;
                if (output_.size() + static_cast<std::size_t>(n) > SystemToolRunner::kOutputLimit) {
                    overflowed_ = true;
                } else {
                    output_.append(buffer, static_cast<std::size_t>(n));
                }
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            fd.reset();  // end of stream, or an error that will not go away
            return;
        }
    }

    UniqueFd out_;
    UniqueFd err_;
    std::string output_;
    bool overflowed_ = false;
};

// Writes to a pipe whose reader may be gone without raising SIGPIPE for the whole process:
// the signal is blocked on this thread and a signal caused by the write is consumed.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigset_t pipeOnly;
        sigemptyset(&pipeOnly);
        sigaddset(&pipeOnly, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous_);
    }
    ~SigpipeGuard() {
        if (!wasPending_) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                sigset_t pipeOnly;
                sigemptyset(&pipeOnly);
                sigaddset(&pipeOnly, SIGPIPE);
                const timespec zero{0, 0};
                sigtimedwait(&pipeOnly, nullptr, &zero);
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t previous_{};
    bool wasPending_ = false;
};

enum class InputResult { written, timedOut };

// Writes the whole input, still reading the tool's output meanwhile so that a tool that answers
// before it has read everything cannot deadlock the call. Bounded by the time limit.
InputResult writeInput(int fd, std::string_view input, OutputCollector& output, Clock::time_point deadline) {
    setNonBlocking(fd);
    SigpipeGuard guard;
    while (!input.empty()) {
        const ssize_t n = ::write(fd, input.data(), input.size());
        if (n > 0) {
            input.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) throwErrno(errno, "Could not write the input of a system tool");
        const int left = remainingMilliseconds(deadline);
        if (left == 0) return InputResult::timedOut;
        pollfd writable{fd, POLLOUT, 0};
        ::poll(&writable, 1, std::min(left, 25));
        output.drainAvailable();
    }
    return InputResult::written;
}

class SpawnSetup {
public:
    SpawnSetup(int in, int out, int err) {
        if (int error = posix_spawn_file_actions_init(&actions_)) throwErrno(error, "Could not prepare a system tool");
        if (int error = posix_spawnattr_init(&attributes_)) {
            posix_spawn_file_actions_destroy(&actions_);
            throwErrno(error, "Could not prepare a system tool");
        }
        int error = posix_spawn_file_actions_adddup2(&actions_, in, STDIN_FILENO);
        if (!error) error = posix_spawn_file_actions_adddup2(&actions_, out, STDOUT_FILENO);
        if (!error) error = posix_spawn_file_actions_adddup2(&actions_, err, STDERR_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
        // Descriptors the service opened without close-on-exec stay out of the tool as well.
        if (!error) error = posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
#endif
        // The tool starts with no blocked signals and default dispositions, whatever the service
        // ignores (SIGPIPE) or blocks.
        sigset_t none;
        sigemptyset(&none);
        sigset_t all;
        sigfillset(&all);
        if (!error) error = posix_spawnattr_setsigmask(&attributes_, &none);
        if (!error) error = posix_spawnattr_setsigdefault(&attributes_, &all);
        if (!error) error = posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        if (error) {
            destroy();
            throwErrno(error, "Could not prepare a system tool");
        }
    }
    ~SpawnSetup() { destroy(); }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

private:
    void destroy() {
        if (destroyed_) return;
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attributes_);
        destroyed_ = true;
    }
    posix_spawn_file_actions_t actions_{};
    posix_spawnattr_t attributes_{};
    bool destroyed_ = false;
};

// Asks the tool to end, then kills it if it does not end within the pause.
void stopOverrunningTool(Child& child, OutputCollector& output, std::chrono::milliseconds killPause) {
    if (child.poll()) return;
    ::kill(child.pid(), SIGTERM);
    // The whole pause, not just until the first output: a tool that says goodbye on SIGTERM
    // and then exits must not be killed between the two.
    const auto until = Clock::now() + killPause;
    while (!child.poll() && Clock::now() < until) {
        output.pump(std::chrono::milliseconds(std::max(1, remainingMilliseconds(until))), child.exitFd());
    }
    if (!child.poll()) ::kill(child.pid(), SIGKILL);
    child.waitBlocking();
}

}  // namespace

const std::vector<std::string>& toolEnvironment() {
#if defined(__APPLE__)
    static const std::vector<std::string> environment{"PATH=/usr/bin:/bin:/usr/sbin:/sbin", "LANG=C", "HOME=/var/root"};
#else
    static const std::vector<std::string> environment{"PATH=/usr/bin:/bin:/usr/sbin:/sbin", "LANG=C", "HOME=/root"};
#endif
    return environment;
}

std::string SystemToolRunner::run(const std::string& executable, const std::vector<std::string>& arguments,
                                  const std::optional<std::string>& input) {
    Pipe in = makePipe();
    Pipe out = makePipe();
    Pipe err = makePipe();

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& variable : toolEnvironment()) envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);

    pid_t pid = -1;
    {
        SpawnSetup setup(in.read.get(), out.write.get(), err.write.get());
        if (int error = ::posix_spawn(&pid, executable.c_str(), setup.actions(), setup.attributes(), argv.data(), envp.data())) {
            throwErrno(error, "Could not start " + executable);
        }
    }
    Child child(pid);
    in.read.reset();
    out.write.reset();
    err.write.reset();
    OutputCollector output(std::move(out.read), std::move(err.read));

    if (input && !input->empty()) {
        if (writeInput(in.write.get(), *input, output, Clock::now() + timings_.timeLimit) == InputResult::timedOut) {
            stopOverrunningTool(child, output, timings_.killPause);
            throw ServiceFailure::rejected(kNetworkCommandFailed);
        }
    }
    in.write.reset();  // the tool now sees the end of its input

    const auto deadline = Clock::now() + timings_.timeLimit;
    while (!child.poll() && Clock::now() < deadline) output.pump(timings_.pollInterval, child.exitFd());
    stopOverrunningTool(child, output, timings_.killPause);
    if (!child.succeeded()) throw ServiceFailure::rejected(kNetworkCommandFailed);

    // What the tool wrote before it ended is in the pipe; a descendant that still holds the pipe
    // open must not make the call wait, so only what is there now is read.
    output.drainAvailable();
    if (output.overflowed()) throw ServiceFailure::rejected(kNetworkCommandFailed);
    std::string text = output.take();
    if (!isValidUtf8(text)) return {};
    return text;
}

bool isValidUtf8(std::string_view text) {
    return UnicodeText::isValidUTF8(text);
}

}  // namespace orlune
