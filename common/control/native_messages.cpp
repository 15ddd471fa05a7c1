#include "control/native_messages.h"

#include <limits>

#include <nlohmann/json.hpp>

#include "control/wire_failure.h"

namespace orlune {
namespace {

// Keys keep the declaration order of the fields when encoded.
using Json = nlohmann::ordered_json;

std::string dump(const Json& object) {
    try {
        return object.dump();
    } catch (const Json::exception& error) {
        throw MessageEncodingError(std::string("The control message could not be encoded: ") + error.what());
    }
}

[[noreturn]] void fail(std::string_view key, std::string_view problem) {
    throw MessageDecodingError("The control message could not be decoded: \"" + std::string(key) + "\" " +
                               std::string(problem) + ".");
}

Json parseObject(std::string_view body) {
    Json value;
    try {
        value = Json::parse(body.begin(), body.end());
    } catch (const Json::exception& error) {
        throw MessageDecodingError(std::string("The control message is not valid JSON: ") + error.what());
    }
    if (!value.is_object()) throw MessageDecodingError("The control message is not a JSON object.");
    return value;
}

const Json* member(const Json& object, std::string_view key) {
    auto found = object.find(key);
    if (found == object.end() || found->is_null()) return nullptr;
    return &*found;
}

std::string requiredString(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    if (!value) fail(key, "is missing");
    if (!value->is_string()) fail(key, "is not a text");
    return value->get<std::string>();
}

std::optional<std::string> optionalString(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    if (!value) return std::nullopt;
    if (!value->is_string()) fail(key, "is not a text");
    return value->get<std::string>();
}

bool requiredBool(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    if (!value) fail(key, "is missing");
    if (!value->is_boolean()) fail(key, "is not a Boolean");
    return value->get<bool>();
}

bool optionalBool(const Json& object, std::string_view key, bool absent = false) {
    const Json* value = member(object, key);
    if (!value) return absent;
    if (!value->is_boolean()) fail(key, "is not a Boolean");
    return value->get<bool>();
}

std::optional<std::int32_t> optionalInt32(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    if (!value) return std::nullopt;
    constexpr auto low = std::numeric_limits<std::int32_t>::min();
    constexpr auto high = std::numeric_limits<std::int32_t>::max();
    if (value->is_number_unsigned()) {
        auto number = value->get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(high)) fail(key, "does not fit a 32-bit integer");
        return static_cast<std::int32_t>(number);
    }
    if (value->is_number_integer()) {
        auto number = value->get<std::int64_t>();
        if (number < low || number > high) fail(key, "does not fit a 32-bit integer");
        return static_cast<std::int32_t>(number);
    }
    fail(key, "is not an integer");
}

}  // namespace

std::string encodeMessage(const NativeRequest& request) {
    Json object = Json::object();
    object["operation"] = request.operation;
    if (request.profile) object["profile"] = *request.profile;
    if (request.expectedHost) object["expectedHost"] = *request.expectedHost;
    if (request.blockTraffic) {
        object["blockTraffic"] = true;
        object["allowLocalNetwork"] = request.allowLocalNetwork;
    }
    if (request.blockIPv6) object["blockIPv6"] = true;
    if (request.keepBlocking) object["keepBlocking"] = true;
    return dump(object);
}

std::string encodeMessage(const NativeReply& reply) {
    Json object = Json::object();
    object["ok"] = reply.ok;
    object["state"] = reply.state;
    object["message"] = reply.message;
    if (reply.interface) object["interface"] = *reply.interface;
    if (reply.ownerPID) object["ownerPID"] = *reply.ownerPID;
    object["engineVersion"] = reply.engineVersion;
    if (reply.stopRequested) object["stopRequested"] = true;
    if (reply.blockingTraffic) object["blockingTraffic"] = true;
    if (reply.blockingIPv6) object["blockingIPv6"] = true;
    return dump(object);
}

template <>
NativeRequest decodeMessage<NativeRequest>(std::string_view body) {
    const Json object = parseObject(body);
    NativeRequest request;
    request.operation = requiredString(object, "operation");
    request.profile = optionalString(object, "profile");
    request.expectedHost = optionalString(object, "expectedHost");
    request.blockTraffic = optionalBool(object, "blockTraffic");
    request.allowLocalNetwork = optionalBool(object, "allowLocalNetwork", true);
    request.blockIPv6 = optionalBool(object, "blockIPv6");
    request.keepBlocking = optionalBool(object, "keepBlocking");
    return request;
}

template <>
NativeReply decodeMessage<NativeReply>(std::string_view body) {
    const Json object = parseObject(body);
    NativeReply reply;
    reply.ok = requiredBool(object, "ok");
    reply.state = requiredString(object, "state");
    reply.message = requiredString(object, "message");
    reply.interface = optionalString(object, "interface");
    reply.ownerPID = optionalInt32(object, "ownerPID");
    reply.engineVersion = requiredString(object, "engineVersion");
    reply.stopRequested = optionalBool(object, "stopRequested");
    reply.blockingTraffic = optionalBool(object, "blockingTraffic");
    reply.blockingIPv6 = optionalBool(object, "blockingIPv6");
    return reply;
}

}  // namespace orlune
