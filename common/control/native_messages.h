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
struct NativeRequest {
    std::string operation;
    std::optional<std::string> profile;
    std::optional<std::string> expectedHost;

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
