#pragma once

#include <string>
#include <string_view>

namespace orlune {

// The identity of the one app build that the installer paired with this service. On Linux the
// identifier is the absolute path the app is installed at and the hash is the SHA-256 of that
// executable, as lowercase hexadecimal.
struct ClientManifest {
    std::string identifier;
    std::string cdhash;

    friend bool operator==(const ClientManifest&, const ClientManifest&) = default;
};

// Decodes one JSON object with the text keys "identifier" and "cdhash"; other keys are ignored.
// Throws ServiceFailure naming the problem when the text is not such an object.
ClientManifest decodeClientManifest(std::string_view json);

// Reads and decodes the manifest file. Throws ServiceFailure when the file cannot be read (the
// path and the system's reason in its detail), or the decoding problem when it is not a manifest.
ClientManifest readClientManifest(const std::string& path);

}  // namespace orlune
