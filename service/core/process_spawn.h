#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "control/unique_fd.h"

namespace orlune {

// Where a child's standard streams come from (-1: the null device) and whether it gets a process
// group of its own (a terminal's Ctrl-C then reaches the service alone, which stops it in order).
struct SpawnStreams {
    int input = -1;
    int output = -1;
    int error = -1;
    bool ownProcessGroup = false;
};

// Starts `executable` with `arguments` (without the program name) and exactly `environment`,
// with default signal dispositions, an empty signal mask (the service ignores SIGPIPE, which would
// otherwise be inherited) and no descriptor of the service besides the three standard streams.
// Throws ServiceFailure with `sentence` when it cannot be started.
pid_t spawnProcess(const std::string& executable, const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment, const SpawnStreams& streams, const char* sentence);

// A handle (pidfd) that names exactly this process while it is held and turns readable when the
// process ends; invalid on kernels without pidfds (before 5.3).
UniqueFd openProcessHandle(pid_t pid);

// A child this service started. It is signalled only before it has been reaped, so a signal never
// reaches a process that reused its id, and it is killed and reaped if it still runs when the
// handle goes, so no zombie and no stray child outlives its owner.
class SpawnedChild {
public:
    // The pidfd is opened before anyone can reap the child, so it names this very process.
    explicit SpawnedChild(pid_t pid) : pid_(pid), exitFd_(openProcessHandle(pid)) {}
    ~SpawnedChild();
    SpawnedChild(const SpawnedChild&) = delete;
    SpawnedChild& operator=(const SpawnedChild&) = delete;

    pid_t pid() const { return pid_; }
    // Readable once the process has ended, or -1.
    int exitFd() const { return exitFd_ ? exitFd_.get() : -1; }
    // True once the process has ended; it is then reaped.
    bool poll();
    // Blocks until it has ended and reaps it.
    void wait();
    // Waits up to `limit` for the end where the pidfd allows it: true when it has waited (ended or
    // not), false without a pidfd, when the caller must pause by itself.
    bool waitWithin(std::chrono::milliseconds limit);
    void signal(int signal);
    // Whether it has ended with status 0.
    bool succeeded() const;

private:
    pid_t pid_;
    UniqueFd exitFd_;
    bool reaped_ = false;
    int status_ = -1;
};

}  // namespace orlune
