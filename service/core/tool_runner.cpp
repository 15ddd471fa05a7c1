#include "core/tool_runner.h"
#include "core/unicode_text.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <utility>

#include "control/unique_fd.h"
#include "core/process_spawn.h"
#include "core/service_failure.h"

namespace orlune {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void throwErrno(int error, const std::string& what) {
    throw ServiceFailure::system(kNetworkCommandFailed, error, what);
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
        std::array<pollfd, 3> fds{pollfd{out_ ? out_.get() : -1, POLLIN, 0}, pollfd{err_ ? err_.get() : -1, POLLIN, 0},
                                  pollfd{exitFd, POLLIN, 0}};
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
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            throwErrno(errno, "Could not write the input of a system tool");
        const int left = remainingMilliseconds(deadline);
        if (left == 0) return InputResult::timedOut;
        pollfd writable{fd, POLLOUT, 0};
        ::poll(&writable, 1, std::min(left, 25));
        output.drainAvailable();
    }
    return InputResult::written;
}

// Asks the tool to end, then kills it if it does not end within the pause.
void stopOverrunningTool(SpawnedChild& child, OutputCollector& output, std::chrono::milliseconds killPause) {
    if (child.poll()) return;
    ::kill(child.pid(), SIGTERM);
    // The whole pause, not just until the first output: a tool that says goodbye on SIGTERM
    // and then exits must not be killed between the two.
    const auto until = Clock::now() + killPause;
    while (!child.poll() && Clock::now() < until) {
        output.pump(std::chrono::milliseconds(std::max(1, remainingMilliseconds(until))), child.exitFd());
    }
    if (!child.poll()) ::kill(child.pid(), SIGKILL);
    child.wait();
}

}  // namespace

std::string SystemToolRunner::run(const std::string& executable, const std::vector<std::string>& arguments,
                                  const std::optional<std::string>& input) {
    Pipe in = makePipe();
    Pipe out = makePipe();
    Pipe err = makePipe();

    const SpawnStreams streams{.input = in.read.get(), .output = out.write.get(), .error = err.write.get()};
    SpawnedChild child(spawnProcess(executable, arguments, toolEnvironment(), streams, kNetworkCommandFailed));
    in.read.reset();
    out.write.reset();
    err.write.reset();
    OutputCollector output(std::move(out.read), std::move(err.read));

    if (input && !input->empty()) {
        if (writeInput(in.write.get(), *input, output, Clock::now() + timings_.timeLimit) == InputResult::timedOut) {
            stopOverrunningTool(child, output, timings_.killPause);
            throw ServiceFailure::failed(kNetworkCommandFailed, executable + " did not read its input in time");
        }
    }
    in.write.reset();  // the tool now sees the end of its input

    const auto deadline = Clock::now() + timings_.timeLimit;
    while (!child.poll() && Clock::now() < deadline) output.pump(timings_.pollInterval, child.exitFd());
    stopOverrunningTool(child, output, timings_.killPause);
    if (!child.succeeded()) throw ServiceFailure::failed(kNetworkCommandFailed, executable + " failed or overran");

    // What the tool wrote before it ended is in the pipe; a descendant that still holds the pipe
    // open must not make the call wait, so only what is there now is read.
    output.drainAvailable();
    if (output.overflowed()) throw ServiceFailure::failed(kNetworkCommandFailed, executable + " wrote too much");
    std::string text = output.take();
    if (!isValidUtf8(text)) return {};
    return text;
}

bool isValidUtf8(std::string_view text) {
    return UnicodeText::isValidUTF8(text);
}

}  // namespace orlune
