#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orlune {

// The number of bytes of the engine log that supervision reads: only its end matters, and a
// long-running engine's log must not cost more than this per look.
inline constexpr std::size_t kLogTailSize = 65'536;

// The engine's process id from the text of its pid file: white space and line breaks around it
// are ignored, an optional sign is allowed; anything else, an overflow of 32 bits, or a value
// not greater than 1 (which would signal init or a process group) gives none.
std::optional<std::int32_t> parsePidFile(std::string_view text);

// The last kLogTailSize bytes of the file at `path` as text, invalid UTF-8 replaced by U+FFFD;
// empty when the file cannot be read. The tail may begin inside a line or a character.
std::string readLogTail(const std::string& path);

// `bytes` as valid UTF-8: each maximal invalid sequence becomes one U+FFFD.
std::string decodeUtf8Lossy(std::string_view bytes);

}  // namespace orlune
