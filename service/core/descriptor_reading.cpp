#include "core/descriptor_reading.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "control/unique_fd.h"
#include "core/service_failure.h"

namespace orlune {

std::optional<std::string> readToEnd(int fd, std::size_t limit) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return text;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > limit) return std::nullopt;
    }
}

std::optional<std::string> readFile(const std::string& path, std::size_t limit, const char* sentence) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd && errno == ENOENT) return std::nullopt;
    if (!fd) throw ServiceFailure::system(sentence, errno, "Could not read " + path);
    errno = 0;
    std::optional<std::string> text = readToEnd(fd.get(), limit);
    if (text) return text;
    if (errno != 0) throw ServiceFailure::system(sentence, errno, "Could not read " + path);
    throw ServiceFailure::failed(sentence, path + " is larger than " + std::to_string(limit) + " bytes");
}

}  // namespace orlune
