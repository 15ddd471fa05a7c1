// Arbitrary bytes as a relay profile. Whatever the policy accepts must be the fixed configuration
// with only the relay's facts filled in: no directive of the input survives, and the one remote is
// the expected host.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/service_failure.h"
#include "policy/profile_policy.h"

namespace {

constexpr std::string_view kHost = "198.51.100.23";

[[noreturn]] void violated(const char* what, std::string_view line) {
    std::fprintf(stderr, "policy property violated: %s: [%.*s]\n", what, static_cast<int>(line.size()), line.data());
    std::abort();
}

bool isPort(std::string_view text) {
    if (text.empty() || text.size() > 5 || text.front() == '0') return false;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= 65535;
}

bool isBlockLine(std::string_view line) {
    if (line.empty() || line.front() == ' ' || line.back() == ' ') return false;
    for (char c : line) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                        c == '/' || c == '=' || c == ' ' || c == '-';
        if (!ok) return false;
    }
    return true;
}

void checkAccepted(const std::string& text) {
    if (text.empty() || text.back() != '\n') violated("no final line feed", text);
    std::vector<std::string_view> lines;
    std::string_view rest = text;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        lines.push_back(rest.substr(0, end));
        rest.remove_prefix(end + 1);
    }
    static const std::set<std::string_view> fixed{"nobind",
                                                  "resolv-retry 5",
                                                  "remote-cert-tls server",
                                                  "auth-retry none",
                                                  "connect-timeout 12",
                                                  "server-poll-timeout 15",
                                                  "connect-retry 3 5",
                                                  "connect-retry-max 1",
                                                  "pull-filter accept \"ifconfig \"",
                                                  "pull-filter accept \"topology \"",
                                                  "pull-filter accept \"route-gateway \"",
                                                  "pull-filter accept \"peer-id \"",
                                                  "pull-filter accept \"cipher \"",
                                                  "pull-filter accept \"protocol-flags \"",
                                                  "pull-filter accept \"key-derivation \"",
                                                  "pull-filter accept \"auth-token \"",
                                                  "pull-filter accept \"auth-token-user \"",
                                                  "pull-filter ignore \"\"",
                                                  "redirect-gateway def1",
                                                  "ping 3",
                                                  "ping-exit 60",
                                                  "explicit-exit-notify 1",
                                                  "data-ciphers AES-256-GCM:AES-128-GCM:CHACHA20-POLY1305:AES-128-CBC",
                                                  "data-ciphers-fallback AES-128-CBC",
                                                  "auth SHA1",
                                                  "verb 3",
                                                  "tun-mtu 1400",
                                                  "mssfix 1360",
                                                  "comp-lzo",
                                                  "allow-compression asym"};
    const std::string remotePrefix = "remote " + std::string(kHost) + " ";
    std::size_t i = 0;
    if (lines.size() < 4 || lines[0] != "client" || lines[1] != "dev tun")
        violated("head", lines.empty() ? "" : lines[0]);
    if (lines[2] != "proto tcp4-client" && lines[2] != "proto udp4") violated("transport", lines[2]);
    if (!lines[3].starts_with(remotePrefix) || !isPort(lines[3].substr(remotePrefix.size())))
        violated("remote", lines[3]);
    for (i = 4; i < lines.size() && !lines[i].starts_with("<"); ++i) {
        if (!fixed.contains(lines[i])) violated("directive", lines[i]);
    }
    for (std::string_view name : {"ca", "cert", "key"}) {
        if (i >= lines.size() || lines[i] != "<" + std::string(name) + ">") violated("block opener", name);
        std::size_t content = 0;
        for (++i; i < lines.size() && lines[i] != "</" + std::string(name) + ">"; ++i, ++content) {
            if (!isBlockLine(lines[i])) violated("block line", lines[i]);
        }
        if (i >= lines.size() || content == 0) violated("block", name);
        ++i;
    }
    if (i != lines.size()) violated("trailing lines", lines[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // The address test must never accept what the address parser refuses.
    const std::string_view firstLine = input.substr(0, input.find('\n'));
    (void)orlune::ProfilePolicy::isPublicIPv4(firstLine);
    std::string result;
    try {
        result = orlune::ProfilePolicy::configuration(input, kHost);
    } catch (const orlune::ServiceFailure&) {
        return 0;
    }
    checkAccepted(result);
    return 0;
}
