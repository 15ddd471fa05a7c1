#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace orlune {

// Everything `fd` has until its end, read in pieces and retried when interrupted; nothing on a
// read error or once more than `limit` bytes arrived (small kernel files such as /proc entries).
std::optional<std::string> readToEnd(int fd, std::size_t limit);

}  // namespace orlune
