#include "auth/client_manifest.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include <nlohmann/json.hpp>

#include "control/unique_fd.h"
#include "main/service_failure.h"

namespace orlune {
namespace {

// The manifest is a few hundred bytes; anything far larger is not one, and is not read whole.
constexpr std::size_t kManifestLimit = 64 * 1024;

[[noreturn]] void invalid(std::string_view problem) {
    throw ServiceFailure::rejected("The client manifest is not valid: " + std::string(problem) + ".");
}

std::string requiredText(const nlohmann::json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end()) invalid(std::string("\"") + key + "\" is missing");
    if (!found->is_string()) invalid(std::string("\"") + key + "\" is not a text");
    return found->get<std::string>();
}

}  // namespace

ClientManifest decodeClientManifest(std::string_view json) {
    nlohmann::json value;
    try {
        value = nlohmann::json::parse(json.begin(), json.end());
    } catch (const nlohmann::json::exception&) {
        invalid("it is not JSON");
    }
    if (!value.is_object()) invalid("it is not a JSON object");
    return ClientManifest{requiredText(value, "identifier"), requiredText(value, "cdhash")};
}

ClientManifest readClientManifest(const std::string& path) {
    auto failure = [&path](int error) {
        return ServiceFailure::rejected("The client manifest " + path + " cannot be read: " + std::strerror(error) +
                                        ".");
    };
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) throw failure(errno);
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw failure(errno);
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kManifestLimit) invalid("it is too large");
    }
    return decodeClientManifest(text);
}

}  // namespace orlune
