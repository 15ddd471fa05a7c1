#pragma once

#include <filesystem>
#include <set>
#include <string>

namespace orlune::testing {

// The descriptors this process holds, by number, as the kernel lists them.
inline std::set<int> openDescriptors() {
    std::set<int> result;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        result.insert(std::stoi(entry.path().filename().string()));
    }
    return result;
}

}  // namespace orlune::testing
