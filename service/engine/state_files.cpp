#include "engine/state_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <limits>

#include "control/unique_fd.h"
#include "core/unicode_text.h"

namespace orlune {
std::optional<std::int32_t> parsePidFile(std::string_view text) {
    text = UnicodeText::trim(text);
    if (text.empty()) return std::nullopt;
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<std::int32_t>::max() || value <= 1) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::string readLogTail(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return {};
    off_t end = ::lseek(fd.get(), 0, SEEK_END);
    if (end < 0) end = 0;
    (void)::lseek(fd.get(), end >= static_cast<off_t>(kLogTailSize) ? end - static_cast<off_t>(kLogTailSize) : 0,
                  SEEK_SET);
    std::string bytes;
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
        // The engine may keep writing while this reads; what came after the end stays for next time.
        if (bytes.size() >= kLogTailSize * 2) break;
    }
    return decodeUtf8Lossy(bytes);
}

std::string decodeUtf8Lossy(std::string_view bytes) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            text.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;   // no overlong forms
            if (lead == 0xED) high = 0x9F;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
        }
        if (length == 0) {
            text.append(kReplacement);
            ++i;
            continue;
        }
        // Accept as many continuation bytes as are valid; a short sequence is one replacement.
        std::size_t valid = 1;
        while (valid < length && i + valid < bytes.size()) {
            const auto next = static_cast<unsigned char>(bytes[i + valid]);
            const unsigned char min = valid == 1 ? low : 0x80;
            const unsigned char max = valid == 1 ? high : 0xBF;
            if (next < min || next > max) break;
            ++valid;
        }
        if (valid == length) {
            text.append(bytes.substr(i, length));
        } else {
            text.append(kReplacement);
        }
        i += valid;
    }
    return text;
}

}  // namespace orlune
