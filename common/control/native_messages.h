#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orlune {

// Operation names, compared exactly.
namespace NativeOperation {
inline constexpr std::string_view status = "status";
inline constexpr std::string_view connect = "connect";
inline constexpr std::string_view disconnect = "disconnect";
}  // namespace NativeOperation

// Reply states.
namespace NativeState {
inline constexpr std::string_view connecting = "connecting";
inline constexpr std::string_view connected = "connected";
inline constexpr std::string_view stopped = "stopped";
inline constexpr std::string_view failed = "failed";
}  // namespace NativeState

// The engine version a reply reports when the service could not read the installed one.
inline constexpr std::string_view kDefaultEngineVersion = "2.7.8";

// One request from the app. `profile` and `expectedHost` are used by "connect" only.
//
// The traffic block (all keys optional, so a request without them, from an older app, behaves as
// before, and an older service that ignores them answers without "blockingTraffic"/"blockingIPv6",
// which tells a newer app the block is not in place):
// - "connect" with `blockTraffic`: from this request until the block is lifted, nothing leaves
//   except loopback, DHCP, the relay being connected (its address, protocol and port), the
//   tunnel once it is up and, with `allowLocalNetwork` (true when absent), the local network.
// - "connect" with `blockIPv6`: no IPv6 leaves except loopback and link-local, through the
//   tunnel neither, until the block is lifted.
// - A "connect" without either lifts a block left from before.
// - "disconnect" with `keepBlocking` stops the tunnel but keeps `blockTraffic` in place (the
//   relay no longer reachable), so the next candidate's "connect" takes over without a gap. Any
//   other "disconnect" lifts the block.
// - The block belongs to the client that asked for it: when that process ends, or sends no
//   request for the heartbeat limit (90 s), the service lifts it together with the DNS restore,
//   so nobody is left without a network and without an app to say why. It is also lifted when
//   the service stops, and at the next start after a crash.
// The owner's heartbeat: the process that started the engine (and the one that holds the block)
// keeps it by sending requests; any request counts, "status" is enough. When none arrives for the
// heartbeat limit (90 s) the service stops the engine and lifts the block. The limit is measured
// on the service's monotonic clock, and time the service itself did not run is not silence: a
// suspend stops that clock, and when the service's loop wakes more than 5 s after it was due (the
// service or its cgroup was frozen or stopped) the count starts again from then. An app that
// wakes from sleep asks for "status" at once, so the owner is heard again before anything counts.
struct NativeRequest {
    std::string operation;
    std::optional<std::string> profile;
    std::optional<std::string> expectedHost;
    bool blockTraffic = false;
    bool allowLocalNetwork = true;
    bool blockIPv6 = false;
    bool keepBlocking = false;

    friend bool operator==(const NativeRequest&, const NativeRequest&) = default;
};

// One reply from the service.
struct NativeReply {
    bool ok = false;
    std::string state;
    std::string message;
    std::optional<std::string> interface;
    std::optional<std::int32_t> ownerPID;
    std::string engineVersion = std::string(kDefaultEngineVersion);
    // With "stopped": the tunnel ended because a client asked for it. A restarted service, an
    // engine that died or was never started leave it false, so a client can tell a stop somebody
    // asked for from a loss. Sent only when true; a reply without it reads as false.
    bool stopRequested = false;
    // The service's traffic block is in place (see NativeRequest). Sent only when true.
    bool blockingTraffic = false;
    bool blockingIPv6 = false;

    friend bool operator==(const NativeReply&, const NativeReply&) = default;
};

// JSON forms. Absent optionals are left out, unknown keys are ignored, and a null optional
// reads as absent. Encoding throws MessageEncodingError (text that is not UTF-8); decoding
// throws MessageDecodingError for malformed JSON, a missing required key or a wrong type.
std::string encodeMessage(const NativeRequest& request);
std::string encodeMessage(const NativeReply& reply);

template <class Message>
Message decodeMessage(std::string_view body);
template <>
NativeRequest decodeMessage<NativeRequest>(std::string_view body);
template <>
NativeReply decodeMessage<NativeReply>(std::string_view body);

}  // namespace orlune
