#pragma once

#include <filesystem>

#include <nlohmann/json.hpp>

namespace orlune {

// Stores `value` as a JSON file readable only by its owner (mode 0600 whatever the umask).
// The file is replaced atomically: readers see the old file or the complete new one. An encoding
// or write failure throws (std::system_error, or std::runtime_error for a value that cannot be
// encoded) and leaves whatever was at `path` untouched.
void save(const nlohmann::json& value, const std::filesystem::path& path);

}  // namespace orlune
