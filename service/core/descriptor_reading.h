#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace orlune {

// Everything `fd` has until its end, read in pieces and retried when interrupted; nothing on a
// read error or once more than `limit` bytes arrived (small kernel files such as /proc entries).
std::optional<std::string> readToEnd(int fd, std::size_t limit);

// The whole file at `path`, or none when there is no such file. Any other failure to read it, or
// a file larger than `limit`, throws ServiceFailure with `sentence` and the path and the system's
// error as its detail.
std::optional<std::string> readFile(const std::string& path, std::size_t limit, const char* sentence);

}  // namespace orlune
