#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orlune {

// The log lines one platform's engine writes, used by the self-test so that it checks the lines
// this host will actually see.
struct ObservationLines {
    std::string_view interfacePrefix;  // "utun" or "tun"
    std::string (*opened)(std::string_view name);
    std::string_view closing;
};

extern const ObservationLines kMacOSObservationLines;
extern const ObservationLines kLinuxObservationLines;
// The lines of the platform this build is for (transport_observation_<platform>.cpp).
extern const ObservationLines& kHostObservationLines;

// What the engine's log says about the tunnel: whether start-up has completed on the current
// interface, and which tunnel interface it opened last. Readiness never survives a restart, a
// closing tunnel, an authentication or certificate failure, or a newly opened interface that has
// not completed its own start-up.
struct TransportObservation {
    bool ready = false;
    std::optional<std::string> interface;

    // Reads `log` line by line starting from `initial`. Pure; never fails.
    static TransportObservation parse(std::string_view log, const TransportObservation& initial);

    // Runs the eight fixed checks with the host's log lines and prints the PASS line; at the
    // first wrong result it ends the process with status 1 without printing it.
    static void selfTest();
    // The number (1 to 8) of the first check that gives a wrong result with these lines, or none.
    static std::optional<int> firstFailingCheck(const ObservationLines& lines);

    friend bool operator==(const TransportObservation&, const TransportObservation&) = default;
};

// A log line without the engine's leading time stamp.
std::string_view engineMessage(std::string_view line);
// Whether some whole line of the engine's own begins with `messageStart` (after its time stamp),
// so that text a relay has the engine repeat inside another line never matches.
bool engineLogHas(std::string_view log, std::string_view messageStart);

// The engine's own line for a relay's authentication refusal, and the starts of its lines for a
// certificate or handshake it could not verify.
inline constexpr std::string_view kEngineAuthFailedLine = "AUTH: Received control message: AUTH_FAILED";
inline constexpr std::string_view kEngineVerifyErrorLine = "VERIFY ERROR:";
inline constexpr std::string_view kEngineTLSErrorLine = "TLS Error:";

// A relay's refusal as the engine's own lines in a log tell it; authentication wins over
// verification when both appear.
enum class EngineRefusal { none, authentication, verification };
EngineRefusal engineRefusal(std::string_view log);

inline constexpr std::string_view kObservationSelfTestPass =
    "PASS: active child interface recognized; restart, auth failure, closure and uncompleted "
    "replacement invalidate old readiness";

}  // namespace orlune
