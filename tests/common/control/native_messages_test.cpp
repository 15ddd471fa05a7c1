#include "control/native_messages.h"

#include <gtest/gtest.h>

#include "control/wire_failure.h"

namespace orlune {
namespace {

TEST(NativeMessages, RequestWithoutProfileEncodesOnlyTheOperation) {
    EXPECT_EQ(encodeMessage(NativeRequest{"status", {}, {}}), R"({"operation":"status"})");
}

TEST(NativeMessages, RequestRoundTripsWithAllFieldsInOrder) {
    NativeRequest request{"connect", "client\ndev tun\n", "198.51.100.11"};
    const std::string body = encodeMessage(request);
    EXPECT_EQ(body, R"({"operation":"connect","profile":"client\ndev tun\n","expectedHost":"198.51.100.11"})");
    EXPECT_EQ(decodeMessage<NativeRequest>(body), request);
}

TEST(NativeMessages, RequestWithOnlyOperationDecodesWithOptionalsAbsent) {
    const auto request = decodeMessage<NativeRequest>(R"({"operation":"disconnect","extra":[1,2]})");
    EXPECT_EQ(request.operation, "disconnect");
    EXPECT_FALSE(request.profile);
    EXPECT_FALSE(request.expectedHost);
}

TEST(NativeMessages, BlockFieldsAreOptionalBothWays) {
    NativeRequest request{"connect", "p", "198.51.100.11"};
    request.blockTraffic = true;
    request.allowLocalNetwork = false;
    request.blockIPv6 = true;
    EXPECT_EQ(encodeMessage(request),
              R"({"operation":"connect","profile":"p","expectedHost":"198.51.100.11","blockTraffic":true,)"
              R"("allowLocalNetwork":false,"blockIPv6":true})");
    EXPECT_EQ(decodeMessage<NativeRequest>(encodeMessage(request)), request);
    // An older app's request blocks nothing; the local network is allowed unless refused.
    const auto old = decodeMessage<NativeRequest>(R"({"operation":"connect","blockTraffic":true})");
    EXPECT_TRUE(old.blockTraffic && old.allowLocalNetwork && !old.blockIPv6 && !old.keepBlocking);
    EXPECT_EQ(decodeMessage<NativeRequest>(R"({"operation":"connect"})"), (NativeRequest{"connect", {}, {}}));
    EXPECT_THROW(decodeMessage<NativeRequest>(R"({"operation":"disconnect","keepBlocking":1})"), MessageDecodingError);

    NativeReply reply;
    reply.blockingTraffic = true;
    EXPECT_EQ(decodeMessage<NativeReply>(encodeMessage(reply)), reply);
    EXPECT_FALSE(
        decodeMessage<NativeReply>(R"({"ok":true,"state":"s","message":"","engineVersion":"2"})").blockingIPv6);
}

TEST(NativeMessages, ReplyDefaultsAndEncoding) {
    NativeReply reply;
    reply.ok = true;
    reply.state = "stopped";
    EXPECT_EQ(reply.engineVersion, "2.7.8");
    EXPECT_EQ(encodeMessage(reply), R"({"ok":true,"state":"stopped","message":"","engineVersion":"2.7.8"})");

    reply.state = "connected";
    reply.interface = "tun0";
    reply.ownerPID = 4242;
    EXPECT_EQ(decodeMessage<NativeReply>(encodeMessage(reply)), reply);

    // A stop a client asked for says so; older peers ignore the key, and its absence reads false.
    reply = NativeReply{};
    reply.ok = true;
    reply.state = "stopped";
    reply.stopRequested = true;
    EXPECT_EQ(encodeMessage(reply),
              R"({"ok":true,"state":"stopped","message":"","engineVersion":"2.7.8","stopRequested":true})");
    EXPECT_EQ(decodeMessage<NativeReply>(encodeMessage(reply)), reply);
}

TEST(NativeMessages, ReplyWithoutInterfaceAndOwnerDecodesWithBothAbsent) {
    const auto reply =
        decodeMessage<NativeReply>(R"({"ok":false,"state":"failed","message":"x","engineVersion":"2.6.14"})");
    EXPECT_FALSE(reply.ok);
    EXPECT_FALSE(reply.interface);
    EXPECT_FALSE(reply.ownerPID);
    EXPECT_EQ(reply.engineVersion, "2.6.14");
}

TEST(NativeMessages, NullOptionalsReadAsAbsent) {
    const auto reply = decodeMessage<NativeReply>(
        R"({"ok":true,"state":"stopped","message":"","interface":null,"ownerPID":null,"engineVersion":"2.7.8"})");
    EXPECT_FALSE(reply.interface);
    EXPECT_FALSE(reply.ownerPID);
}

TEST(NativeMessages, UndecodableBodiesAreDecodingErrorsNotWireFailures) {
    const char* replies[] = {
        R"({"ok":true,"state":"stopped","engineVersion":"2.7.8"})",           // no message
        R"({"ok":true,"state":"stopped","message":""})",                      // no engineVersion
        R"({"state":"stopped","message":"","engineVersion":"2.7.8"})",        // no ok
        R"({"ok":null,"state":"stopped","message":"","engineVersion":"2"})",  // required null
        R"({"ok":1,"state":"stopped","message":"","engineVersion":"2"})",     // number for Boolean
        R"({"ok":true,"state":7,"message":"","engineVersion":"2"})",          // number for text
        R"({"ok":true,"state":"s","message":"","ownerPID":"12","engineVersion":"2"})",
        R"({"ok":true,"state":"s","message":"","ownerPID":1.5,"engineVersion":"2"})",
        R"({"ok":true,"state":"s","message":"","ownerPID":2147483648,"engineVersion":"2"})",
        R"({"ok":true,"state":"s","message":"","ownerPID":-2147483649,"engineVersion":"2"})",
        R"({"ok":true,"state":"s","message":"","interface":["tun0"],"engineVersion":"2"})",
        R"({"ok":true,"state":"s","message":"","engineVersion":"2","stopRequested":"yes"})",
        R"([{"ok":true}])",
        R"({"ok":true,)",
        "",
        "\"text\"",
    };
    for (const char* body : replies) {
        EXPECT_THROW(decodeMessage<NativeReply>(body), MessageDecodingError) << body;
    }
    EXPECT_THROW(decodeMessage<NativeRequest>(R"({"profile":"p"})"), MessageDecodingError);
    EXPECT_THROW(decodeMessage<NativeRequest>(R"({"operation":"connect","profile":3})"), MessageDecodingError);
    EXPECT_THROW(decodeMessage<NativeRequest>("{\"operation\":\"st\xff\"}"), MessageDecodingError);
}

TEST(NativeMessages, OwnerPIDAcceptsTheWholeSigned32BitRange) {
    auto withPID = [](const char* pid) {
        return decodeMessage<NativeReply>(std::string(R"({"ok":true,"state":"s","message":"","ownerPID":)") + pid +
                                          R"(,"engineVersion":"2"})")
            .ownerPID;
    };
    EXPECT_EQ(withPID("2147483647"), 2147483647);
    EXPECT_EQ(withPID("-2147483648"), -2147483647 - 1);
}

TEST(NativeMessages, TextThatIsNotUTF8CannotBeEncoded) {
    EXPECT_THROW(encodeMessage(NativeRequest{"connect", std::string("\xc3\x28"), "198.51.100.11"}),
                 MessageEncodingError);
}

TEST(WireFailureTexts, BothSentencesAreFixed) {
    EXPECT_STREQ(WireFailure::invalid().what(), "The local VPN service returned an invalid or incomplete response.");
    EXPECT_STREQ(WireFailure::unavailable().what(),
                 "One-time setup is missing or the VPN service is unavailable. Install the Orlune VPN package "
                 "(.deb) with administrator rights and make sure the orlune-vpn service is running.");
}

}  // namespace
}  // namespace orlune
