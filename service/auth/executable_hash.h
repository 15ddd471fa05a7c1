#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace orlune {

// SHA-256 of everything readable from `fd` (read from offset 0), as lowercase hexadecimal.
// None when the file cannot be read.
std::optional<std::string> sha256Hex(int fd);

// Remembers the hashes of the few programs that connect, so a "status" poll does not hash the
// app binary again. The key changes with any change of the file (a new inode, a write, a
// metadata change), so a replaced program is hashed afresh at its very next request.
class ExecutableHashCache {
public:
    // The hash of the open file `fd`, whose fstat is `info`; none when it cannot be read.
    std::optional<std::string> hash(int fd, const struct stat& info);

private:
    struct Entry {
        dev_t device;
        ino_t inode;
        off_t size;
        timespec modified;
        timespec changed;
        std::string hash;
    };
    static constexpr std::size_t kCapacity = 8;
    std::vector<Entry> entries_;
};

}  // namespace orlune
