#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orlune::ProfilePolicy {

// A profile of this many bytes is still examined; one byte more is refused unread.
inline constexpr std::size_t kMaximumProfileSize = 199'999;

// Checks a relay's profile against a strict allow-list and builds, from scratch, the
// configuration the engine runs: only the transport, the port, `expectedHost` and the ca, cert
// and key blocks come from the profile; every other line is fixed. Throws ServiceFailure with the
// sentence for the first problem in line order. The result is plain ASCII ending in one LF.
std::string configuration(std::string_view profile, std::string_view expectedHost);

// True only for a dotted-quad IPv4 address outside the private, loopback, link-local, shared,
// benchmarking, multicast and reserved ranges (documentation ranges count as public).
bool isPublicIPv4(std::string_view text);

// Runs the fixed checks of these rules and prints the PASS line. A rule that lets an unsafe
// profile or a wrong endpoint through ends the process at once; a refused sample profile is
// passed on as its ServiceFailure.
void selfTest();

inline constexpr std::string_view kSelfTestPass =
    "PASS: profile injection, extra remotes, private endpoints, inline credentials and duplicate "
    "blocks rejected; bounded policy enforced";

}  // namespace orlune::ProfilePolicy
