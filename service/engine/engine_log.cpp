#include "engine/engine_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "core/service_failure.h"
#include "engine/process_control.h"

namespace orlune {
namespace {

// Per drain, so that an engine writing without pause cannot hold the service's loop.
constexpr std::size_t kDrainPerCall = 256 * 1024;

UniqueFd createFile(const std::string& path) {
    (void)::unlink(path.c_str());
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) throw ServiceFailure::system(kEngineStartFailed, errno, "Could not create " + path);
    (void)::fchmod(fd.get(), 0600);
    return fd;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

EngineLog::EngineLog(std::string path, UniqueFd& engineEnd, std::size_t limit)
    : path_(std::move(path)), limit_(limit), file_(createFile(path_)) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throw ServiceFailure::system(kEngineStartFailed, errno, "Could not create the engine's output pipe");
    }
    pipe_.reset(ends[0]);
    engineEnd.reset(ends[1]);
    (void)::fcntl(pipe_.get(), F_SETFL, O_NONBLOCK);
}

void EngineLog::drain() {
    char buffer[16384];
    for (std::size_t moved = 0; pipe_ && moved < kDrainPerCall;) {
        const ssize_t n = ::read(pipe_.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
            pipe_.reset();  // every writer has gone
            return;
        }
        if (n < 0) return;
        moved += static_cast<std::size_t>(n);
        if (file_ && writeAll(file_.get(), std::string_view(buffer, static_cast<std::size_t>(n)))) {
            size_ += static_cast<std::size_t>(n);
        }
        if (size_ > limit_) trim();
    }
}

void EngineLog::trim() {
    const std::size_t keep = limit_ / 2;
    std::string tail(keep, '\0');
    UniqueFd reader(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    const ssize_t n = reader ? ::pread(reader.get(), tail.data(), keep, static_cast<off_t>(size_ - keep)) : -1;
    tail.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    // Start at a whole line, so that no cut line can read as something the engine said.
    const std::size_t lineStart = tail.find('\n');
    tail.erase(0, lineStart == std::string::npos ? tail.size() : lineStart + 1);
    try {
        file_ = createFile(path_);
    } catch (const ServiceFailure&) {
        file_.reset();  // nothing more is written; the engine itself goes on
        size_ = 0;
        return;
    }
    size_ = writeAll(file_.get(), tail) ? tail.size() : 0;
}

}  // namespace orlune
