#include "engine/transport_observation.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/unicode_text.h"

namespace orlune {
namespace {

constexpr std::string_view kCompleted = "Initialization Sequence Completed";

constexpr std::array<std::string_view, 8> kCancelling{
    "process restarting", "Restart pause",        "Closing TUN/TAP",   "Closing utun", "SIGTERM",
    "AUTH_FAILED",        kEngineVerifyErrorLine, kEngineTLSErrorLine,
};

bool contains(std::string_view line, std::string_view phrase) {
    return line.find(phrase) != std::string_view::npos;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Lines that carry what the relay sent: its push and its echo texts. The relay chooses their
// words, so they never count as the engine's own account of the tunnel.
bool carriesRelayText(std::string_view message) {
    return message.starts_with("PUSH:") || message.starts_with("echo") || message.starts_with("ECHO");
}

// Exactly `prefix` followed by one or more ASCII digits.
bool isInterfaceName(std::string_view word, std::string_view prefix) {
    if (!word.starts_with(prefix) || word.size() == prefix.size()) return false;
    for (char c : word.substr(prefix.size())) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// The interface a line announces, if it is an announcement with a valid name. The macOS engine
// writes "Opened utun device utun6"; the Linux one "TUN/TAP device tun0 opened" (or "DCO device
// tun0 opened" when the kernel carries the data channel). The name must fit the line's platform.
std::optional<std::string_view> announcedInterface(std::string_view line) {
    const auto words = UnicodeText::words(line);
    if (words.size() == 4 && words[0] == "Opened" && words[1] == "utun" && words[2] == "device" &&
        isInterfaceName(words[3], "utun")) {
        return words[3];
    }
    const bool linuxShape = (words.size() == 4 && words[0] == "DCO" && words[1] == "device") ||
                            (words.size() == 4 && words[0] == "TUN/TAP" && words[1] == "device");
    if (linuxShape && words[3] == "opened" && isInterfaceName(words[2], "tun")) return words[2];
    return std::nullopt;
}

std::string macOSOpened(std::string_view name) {
    return "Opened utun device " + std::string(name);
}
std::string linuxOpened(std::string_view name) {
    return "TUN/TAP device " + std::string(name) + " opened";
}

}  // namespace

const ObservationLines kMacOSObservationLines{"utun", macOSOpened, "Closing utun interface"};
const ObservationLines kLinuxObservationLines{"tun", linuxOpened, "Closing TUN/TAP interface"};

std::string_view engineMessage(std::string_view line) {
    // "2026-12-09 02:13:00 " as the engine stamps each line it writes to standard output.
    constexpr std::string_view shape = "dddd-dd-dd dd:dd:dd ";
    if (line.size() < shape.size()) return line;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == 'd' ? !isDigit(line[i]) : line[i] != shape[i]) return line;
    }
    return line.substr(shape.size());
}

bool engineLogHas(std::string_view log, std::string_view messageStart) {
    for (std::string_view line : UnicodeText::splitLines(log)) {
        if (engineMessage(line).starts_with(messageStart)) return true;
    }
    return false;
}

EngineRefusal engineRefusal(std::string_view log) {
    if (engineLogHas(log, kEngineAuthFailedLine)) return EngineRefusal::authentication;
    if (engineLogHas(log, kEngineVerifyErrorLine) || engineLogHas(log, kEngineTLSErrorLine)) {
        return EngineRefusal::verification;
    }
    return EngineRefusal::none;
}

TransportObservation TransportObservation::parse(std::string_view log, const TransportObservation& initial) {
    TransportObservation result = initial;
    for (std::string_view raw : UnicodeText::splitLines(log)) {
        const std::string_view line = engineMessage(raw);
        if (line.empty() || carriesRelayText(line)) continue;
        if (auto name = announcedInterface(line)) {
            result.interface = std::string(*name);
            result.ready = false;
        }
        const bool completes = line == kCompleted;
        bool cancels = false;
        for (auto phrase : kCancelling) cancels = cancels || contains(line, phrase);
        if (cancels) {
            result.ready = false;
        } else if (completes) {
            result.ready = true;
        }
    }
    return result;
}

std::optional<int> TransportObservation::firstFailingCheck(const ObservationLines& lines) {
    const std::string first = std::string(lines.interfacePrefix) + "6";
    const std::string second = std::string(lines.interfacePrefix) + "7";
    const std::string up = lines.opened(first) + "\n" + std::string(kCompleted) + "\n";
    const TransportObservation initial;
    const TransportObservation readyOnFirst{true, first};

    struct Check {
        std::string log;
        TransportObservation start;
        TransportObservation expected;
    };
    const std::vector<Check> checks{
        {up, initial, {true, first}},
        {up + "SIGUSR1[soft,connection-reset] received, process restarting\n", initial, {false, first}},
        {up + std::string(lines.closing) + "\n", initial, {false, first}},
        {up + "AUTH_FAILED\n", initial, {false, first}},
        {"keepalive event\n", readyOnFirst, {true, first}},
        {"process restarting\n", readyOnFirst, {false, first}},
        {up + lines.opened(second) + "\n", initial, {false, second}},
        {up + "process restarting\n" + lines.opened(second) + "\n" + std::string(kCompleted) + "\n",
         initial,
         {true, second}},
    };
    for (std::size_t i = 0; i < checks.size(); ++i) {
        if (parse(checks[i].log, checks[i].start) != checks[i].expected) return static_cast<int>(i + 1);
    }
    return std::nullopt;
}

void TransportObservation::selfTest() {
    if (auto failed = firstFailingCheck(kHostObservationLines)) {
        std::fprintf(stderr, "Transport observation self-test failed at check %d\n", *failed);
        std::exit(1);
    }
    std::printf("%.*s\n", static_cast<int>(kObservationSelfTestPass.size()), kObservationSelfTestPass.data());
    std::fflush(stdout);
}

}  // namespace orlune
