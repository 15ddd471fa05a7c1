#include "auth/executable_hash.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

// The digest's own functions, not the EVP interface: EVP loads OpenSSL's configuration and its
// provider with every algorithm it has, about 2 MB of the service's resident memory for the one
// hash it needs. They are deprecated in OpenSSL 3 but kept throughout its 3.x releases.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

namespace orlune {
namespace {

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

std::optional<std::string> sha256Hex(int fd) {
    SHA256_CTX context;
    if (SHA256_Init(&context) != 1) return std::nullopt;
    std::vector<unsigned char> buffer(1 << 16);
    off_t offset = 0;
    for (;;) {
        ssize_t n = ::pread(fd, buffer.data(), buffer.size(), offset);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        if (SHA256_Update(&context, buffer.data(), static_cast<std::size_t>(n)) != 1) return std::nullopt;
        offset += n;
    }
    unsigned char digest[SHA256_DIGEST_LENGTH];
    if (SHA256_Final(digest, &context) != 1) return std::nullopt;
    constexpr unsigned int length = SHA256_DIGEST_LENGTH;
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(kDigits[digest[i] >> 4]);
        hex.push_back(kDigits[digest[i] & 0x0f]);
    }
    return hex;
}

std::optional<std::string> ExecutableHashCache::hash(int fd, const struct stat& info) {
    for (const Entry& entry : entries_) {
        if (entry.device == info.st_dev && entry.inode == info.st_ino && entry.size == info.st_size &&
            sameTime(entry.modified, info.st_mtim) && sameTime(entry.changed, info.st_ctim)) {
            return entry.hash;
        }
    }
    std::optional<std::string> computed = sha256Hex(fd);
    if (!computed) return std::nullopt;
    if (entries_.size() >= kCapacity) entries_.erase(entries_.begin());
    entries_.push_back(Entry{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim, *computed});
    return computed;
}

}  // namespace orlune
