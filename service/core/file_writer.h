#pragma once

#include <filesystem>
#include <string_view>

#include <nlohmann/json.hpp>

namespace orlune {

// Replaces the file at `path` with `bytes`, readable only by its owner (mode 0600 whatever the
// umask). Readers see the old file or the complete new one, and the new one is on disk before it
// takes the old one's place. A failure throws ServiceFailure (kStateFileFailed, with the path and
// the system's error as its detail) and leaves whatever was at `path` untouched.
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Stores `value` as a JSON file the same way; a value that cannot be encoded fails the same way.
void save(const nlohmann::json& value, const std::filesystem::path& path);

}  // namespace orlune
