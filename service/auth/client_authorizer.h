#pragma once

#include <cstdint>

namespace orlune {

// Refusal texts of the authorization step, in the order the checks run.
inline constexpr const char* kUnauthorizedClient = "Unauthorized local client.";
inline constexpr const char* kClientIdentityUnavailable = "The local client identity is unavailable.";
inline constexpr const char* kClientAuditIdentityUnavailable = "The local client audit identity is unavailable.";
inline constexpr const char* kClientSignatureInvalid = "The local client signature is invalid.";
inline constexpr const char* kClientCodeIdentityUnavailable = "The local client code identity is unavailable.";
inline constexpr const char* kClientVersionMismatch =
    "This app version does not match the installed VPN service. Run its installer to update both together.";

// Who is on the other end of an authorized connection.
struct PeerIdentity {
    std::uint32_t uid = 0;
    std::int32_t pid = 0;

    friend bool operator==(const PeerIdentity&, const PeerIdentity&) = default;
};

// Decides, for every accepted connection and before its request is read, whether the peer is
// the installed app run by an ordinary user.
class ClientAuthorizer {
public:
    virtual ~ClientAuthorizer() = default;
    // The peer's user and process id; throws ServiceFailure with one of the texts above. Nothing
    // is kept between calls that could let a replaced program through.
    virtual PeerIdentity peer(int fd) = 0;
};

}  // namespace orlune
