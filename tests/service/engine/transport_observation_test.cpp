#include "engine/transport_observation.h"

#include <gtest/gtest.h>

namespace orlune {
namespace {

const TransportObservation kInitial;

TransportObservation parse(std::string_view log, const TransportObservation& initial = kInitial) {
    return TransportObservation::parse(log, initial);
}

TEST(TransportObservationSelfTest, EightChecksHoldWithBothPlatformsLines) {
    EXPECT_EQ(TransportObservation::firstFailingCheck(kMacOSObservationLines), std::nullopt);
    EXPECT_EQ(TransportObservation::firstFailingCheck(kLinuxObservationLines), std::nullopt);
}

TEST(TransportObservationInterface, NameMustFitTheLinesPlatform) {
    struct Case {
        std::string_view line;
        std::optional<std::string> interface;  // none: the observation stays unchanged
    };
    const Case cases[]{
        {"Opened utun device utun6", "utun6"},
        {"2026-12-08 17:00:00 Opened utun device utun12", "utun12"},
        {"Opened utun device tun0", std::nullopt},
        {"Opened utun device utun", std::nullopt},
        {"Opened utun device utun6x", std::nullopt},
        {"Opened utun device utun\xD9\xA3", std::nullopt},  // an Arabic-Indic digit is not a digit here
        {"Opened utun device", std::nullopt},               // no trailing space: not the phrase
        {"2026-12-08 17:00:00 TUN/TAP device tun0 opened", "tun0"},
        {"DCO device tun3 opened", "tun3"},
        {"TUN/TAP device utun6 opened", std::nullopt},
        {"TUN/TAP device tun opened", std::nullopt},
        {"TUN/TAP device tun0 opened twice", std::nullopt},
        {"Cannot open TUN/TAP dev /dev/net/tun: No such device", std::nullopt},
    };
    const TransportObservation before{true, "utun1"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto after = parse(c.line, before);
        if (c.interface) {
            EXPECT_EQ(after, (TransportObservation{false, *c.interface}));
        } else {
            EXPECT_EQ(after, before);
        }
    }
}

TEST(TransportObservationReadiness, CompletionCountsOnlyAtTheEndOfACleanLine) {
    const std::string opened = "TUN/TAP device tun0 opened\n";
    struct Case {
        std::string log;
        TransportObservation expected;
    };
    const Case cases[]{
        {opened + "2026-12-08 17:00:01 Initialization Sequence Completed\n", {true, "tun0"}},
        {opened + "Initialization Sequence Completed With Errors\n", {false, "tun0"}},
        {opened + "TLS Error: handshake failed Initialization Sequence Completed\n", {false, "tun0"}},
        {opened + "VERIFY ERROR: depth=0 Initialization Sequence Completed\n", {false, "tun0"}},
        {opened + "Initialization Sequence Completed\nRestart pause, 5 second(s)\n", {false, "tun0"}},
        {opened + "Initialization Sequence Completed\nClosing TUN/TAP interface\n", {false, "tun0"}},
        {opened + "Initialization Sequence Completed\nSIGTERM[hard,] received, process exiting\n", {false, "tun0"}},
        // Line ends of every kind separate lines.
        {"TUN/TAP device tun0 opened\rInitialization Sequence Completed\r", {true, "tun0"}},
        {"TUN/TAP device tun0 opened\r\nInitialization Sequence Completed\r\n", {true, "tun0"}},
        {"TUN/TAP device tun0 opened\xE2\x80\xA8Initialization Sequence Completed", {true, "tun0"}},
        // Without any interface line the completion still counts; the caller needs an interface.
        {"Initialization Sequence Completed", {true, std::nullopt}},
        {"", {false, std::nullopt}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.log);
        EXPECT_EQ(parse(c.log), c.expected);
    }
}

TEST(TransportObservationRelayText, LinesCarryingTheRelaysWordsNeverCount) {
    const TransportObservation before{false, "tun0"};
    for (std::string_view line : {
             "2026-12-09 02:13:00 echo:TUN/TAP device tun9 opened",
             "2026-12-09 02:13:00 echo:Initialization Sequence Completed",
             "PUSH: Received control message: 'PUSH_REPLY,echo TUN/TAP device tun9 opened'",
             "ECHO:Initialization Sequence Completed",
             "Note: TUN/TAP device tun9 opened",
         }) {
        SCOPED_TRACE(line);
        EXPECT_EQ(parse(line, before), before);
    }
    EXPECT_TRUE(
        engineLogHas("x\n2026-12-09 02:13:00 AUTH: Received control message: AUTH_FAILED\n", kEngineAuthFailedLine));
    EXPECT_FALSE(
        engineLogHas("2026-12-09 02:13:00 echo:AUTH: Received control message: AUTH_FAILED\n"
                     "PUSH: Received control message: 'PUSH_REPLY,AUTH_FAILED'\n",
                     kEngineAuthFailedLine));
}

TEST(TransportObservationReadiness, EarlierResultCarriesOverUntilALaterLineChangesIt) {
    const TransportObservation readyOnTun0{true, "tun0"};
    EXPECT_EQ(parse("ping received\nlink remote: [AF_INET]203.0.113.20:1194\n", readyOnTun0), readyOnTun0);
    EXPECT_EQ(parse("AUTH_FAILED\n", readyOnTun0), (TransportObservation{false, "tun0"}));
    EXPECT_EQ(parse("Initialization Sequence Completed\n", TransportObservation{false, "tun0"}), readyOnTun0);
}

}  // namespace
}  // namespace orlune
