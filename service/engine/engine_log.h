#pragma once

#include <cstddef>
#include <string>

#include "control/unique_fd.h"

namespace orlune {

// The most the engine log may hold; beyond it the oldest part goes and about half is kept. The
// service reads only the log's end, so the end is what must survive.
inline constexpr std::size_t kEngineLogLimit = 1 << 20;

// The engine's output, carried through a pipe into the log file by the service itself, so that
// the file stays within its limit whatever and however much the engine writes.
class EngineLog {
public:
    // Makes the log file anew (empty, 0600) and the pipe; `engineEnd` receives the pipe's write
    // end for the engine's standard output. Throws ServiceFailure (kEngineStartFailed) when either cannot be made.
    EngineLog(std::string path, UniqueFd& engineEnd, std::size_t limit = kEngineLogLimit);

    // The pipe's read end while the engine may still write, else -1.
    int descriptor() const { return pipe_.get(); }
    // Moves what the engine has written so far into the file, without waiting and at most a
    // bounded amount per call; trims the file when it passes the limit. Never throws.
    void drain();

private:
    void trim();

    std::string path_;
    std::size_t limit_;
    UniqueFd pipe_;
    UniqueFd file_;
    std::size_t size_ = 0;
};

}  // namespace orlune
