#include "main/descriptor_reading.h"

#include <unistd.h>

#include <cerrno>

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

}  // namespace orlune
