#include "auth/client_manifest.h"

#include <nlohmann/json.hpp>

#include "core/descriptor_reading.h"
#include "core/service_failure.h"

namespace orlune {
namespace {

// The manifest is a few hundred bytes; anything far larger is not one, and is not read whole.
constexpr std::size_t kManifestLimit = 64 * 1024;
constexpr const char* kManifestUnreadable = "The client manifest cannot be read. Reinstall Orlune VPN.";

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
    const std::optional<std::string> text = readFile(path, kManifestLimit, kManifestUnreadable);
    if (!text) throw ServiceFailure::failed(kManifestUnreadable, path + " does not exist");
    return decodeClientManifest(*text);
}

}  // namespace orlune
