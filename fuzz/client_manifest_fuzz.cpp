// Arbitrary bytes as the client manifest, which the service reads as root at start. Whatever is
// accepted names both keys as text and reads back the same once written out again.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <nlohmann/json.hpp>

#include "auth/client_manifest.h"
#include "core/service_failure.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    orlune::ClientManifest manifest;
    try {
        manifest = orlune::decodeClientManifest(text);
    } catch (const orlune::ServiceFailure&) {
        return 0;
    }
    const nlohmann::json again{{"identifier", manifest.identifier}, {"cdhash", manifest.cdhash}};
    if (orlune::decodeClientManifest(again.dump()) != manifest) std::abort();
    return 0;
}
