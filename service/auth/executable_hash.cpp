#include "auth/executable_hash.h"

#include <unistd.h>

#include <cerrno>
#include <memory>

#include <openssl/evp.h>

namespace orlune {
namespace {

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

std::optional<std::string> sha256Hex(int fd) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
    std::vector<unsigned char> buffer(1 << 16);
    off_t offset = 0;
    for (;;) {
        ssize_t n = ::pread(fd, buffer.data(), buffer.size(), offset);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(n)) != 1) return std::nullopt;
        offset += n;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return std::nullopt;
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
