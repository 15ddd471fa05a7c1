// Arbitrary bytes as an engine log tail. Parsing never fails, keeps or replaces the interface only
// with a valid tunnel name, and reading the log in two pieces gives what reading it whole gives:
// the property the status operation relies on when it passes the previous result along.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "engine/transport_observation.h"

namespace {

bool isTunnelName(const std::string& name) {
    std::string_view digits;
    if (name.starts_with("utun")) {
        digits = std::string_view(name).substr(4);
    } else if (name.starts_with("tun")) {
        digits = std::string_view(name).substr(3);
    } else {
        return false;
    }
    if (digits.empty()) return false;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    using orlune::TransportObservation;
    const std::uint8_t selector = data[0];
    const std::string_view log(reinterpret_cast<const char*>(data + 1), size - 1);
    TransportObservation initial;
    initial.ready = (selector & 1) != 0;
    if (selector & 2) initial.interface = (selector & 4) ? "utun6" : "tun0";

    const TransportObservation whole = TransportObservation::parse(log, initial);
    if (whole.interface != initial.interface && !(whole.interface && isTunnelName(*whole.interface))) {
        std::fprintf(stderr, "observation took an invalid interface name\n");
        std::abort();
    }
    if (whole.interface && !initial.interface && !isTunnelName(*whole.interface)) std::abort();

    // Split after a line feed chosen by the selector's high bits.
    std::size_t cut = log.size();
    std::size_t wanted = selector >> 3;
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (log[i] == '\n' && wanted-- == 0) {
            cut = i + 1;
            break;
        }
    }
    const TransportObservation first = TransportObservation::parse(log.substr(0, cut), initial);
    if (TransportObservation::parse(log.substr(cut), first) != whole) {
        std::fprintf(stderr, "observation differs when the log is read in two pieces\n");
        std::abort();
    }
    return 0;
}
