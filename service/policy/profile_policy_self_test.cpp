#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "core/service_failure.h"
#include "policy/profile_policy.h"

namespace orlune::ProfilePolicy {
namespace {

constexpr std::string_view kSampleHost = "203.0.113.45";

std::string sampleProfile() {
    const std::string certificate = "-----BEGIN CERTIFICATE-----\nAA==\n-----END CERTIFICATE-----\n";
    return "client\ndev tun\nproto tcp\nremote " + std::string(kSampleHost) +
           " 1195\npersist-tun\nping-restart 10\n<ca>\n" + certificate + "</ca>\n<cert>\n" + certificate +
           "</cert>\n<key>\n" + certificate + "</key>\n";
}

[[noreturn]] void fatal(const char* text) {
    std::fprintf(stderr, "Fatal error: %s\n", text);
    std::abort();
}

void require(bool condition) {
    if (!condition) fatal("Profile policy self-test precondition failed");
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        result.push_back(text.substr(start, end - start));
    }
    return result;
}

// The sentence of the refusal, or none when the profile was accepted.
std::optional<std::string> refusal(const std::string& profile, std::string_view host) {
    try {
        configuration(profile, host);
    } catch (const ServiceFailure& failure) {
        return failure.errorDescription();
    }
    return std::nullopt;
}

}  // namespace

void selfTest() {
    const std::string sample = sampleProfile();

    // The sample itself must pass; if it does not, that refusal is the self-test's failure.
    const std::string hardened = configuration(sample, kSampleHost);
    const auto result = lines(hardened);
    require(hardened.find("persist-tun") == std::string::npos);
    require(hardened.find("ping-restart") == std::string::npos);
    require(hardened.find("remote-cert-tls server") != std::string::npos);
    require(hardened.find("auth-retry none") != std::string::npos);
    require(result.size() > 3 && result[2] == "proto tcp4-client");
    require(result.size() > 3 && result[3] == "remote " + std::string(kSampleHost) + " 1195");

    const struct {
        std::string appended;
        std::string_view message;
    } unsafe[]{
        {"up /tmp/evil\n", "Unsafe or unsupported VPN profile directive."},
        {"plugin /tmp/evil\n", "Unsafe or unsupported VPN profile directive."},
        {"config /tmp/evil\n", "Unsafe or unsupported VPN profile directive."},
        {"setenv LD_PRELOAD evil\n", "Unsafe or unsupported VPN profile directive."},
        {"remote 8.8.8.8 443\n", "The profile does not match the selected relay."},
        {"<auth-user-pass>\nuser\npassword\n</auth-user-pass>\n", "Unsupported inline profile block."},
        {"<ca>\nAA==\n</ca>\n", "Duplicate certificate block."},
    };
    for (const auto& variant : unsafe) {
        const auto message = refusal(sample + variant.appended, kSampleHost);
        if (!message) fatal("Unsafe profile accepted");
        require(*message == variant.message);
    }

    for (auto address :
         {"127.0.0.1", "192.168.1.1", "169.254.1.2", "10.1.2.3", "::1", "hostname;touch /tmp/evil", "100.64.1.1"}) {
        require(!isPublicIPv4(address));
    }

    const auto wrongEndpoint = refusal(sample, "8.8.8.8");
    if (!wrongEndpoint) fatal("Wrong endpoint accepted");
    require(*wrongEndpoint == "The profile does not match the selected relay.");

    std::printf("%.*s\n", static_cast<int>(kSelfTestPass.size()), kSelfTestPass.data());
    std::fflush(stdout);
}

}  // namespace orlune::ProfilePolicy
