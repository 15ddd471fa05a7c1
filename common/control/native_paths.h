#pragma once

#include <string>
#include <string_view>

namespace orlune::NativePaths {

// Fixed locations shared by the app and the service. They are fixed when the program is built, on
// purpose: the service reads no configuration, and tests inject their own directories into
// the pieces they exercise instead of changing these.
// Each platform's values are in native_paths_<platform>.cpp.
extern const std::string_view socket;
extern const std::string_view socketDirectory;
extern const std::string_view support;
extern const std::string_view state;
extern const std::string_view engine;
extern const std::string_view manifest;

// The engine's management socket: the state directory followed by "/management.sock".
inline const std::string& management() {
    static const std::string path = std::string(state) + "/management.sock";
    return path;
}

}  // namespace orlune::NativePaths
