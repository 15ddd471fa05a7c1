#include "policy/profile_policy.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <map>
#include <optional>
#include <vector>

#include "core/service_failure.h"
#include "core/unicode_text.h"

namespace orlune::ProfilePolicy {
namespace {

namespace Message {
constexpr const char* endpointOrSize = "Invalid VPN relay endpoint or profile size.";
constexpr const char* unsafeDirective = "Unsafe or unsupported VPN profile directive.";
constexpr const char* port = "Invalid relay port.";
constexpr const char* protocol = "Invalid relay protocol.";
constexpr const char* onlyTun = "Only tun profiles are supported.";
constexpr const char* unsupportedBlock = "Unsupported inline profile block.";
constexpr const char* duplicateBlock = "Duplicate certificate block.";
constexpr const char* badCloser = "Invalid inline certificate block.";
constexpr const char* pem = "Invalid PEM data.";
constexpr const char* mismatch = "The profile does not match the selected relay.";
constexpr const char* transport = "Unsupported relay transport.";
}  // namespace Message

[[noreturn]] void refuse(const char* message) {
    throw ServiceFailure::rejected(message);
}

// Every directive a relay profile may carry. Only remote, proto, dev and comp-lzo shape the
// result; the rest are accepted and dropped, because the result fixes its own values for them.
constexpr std::array<std::string_view, 33> kAllowedDirectives{
    "client",
    "dev",
    "proto",
    "remote",
    "resolv-retry",
    "nobind",
    "persist-key",
    "persist-tun",
    "verb",
    "cipher",
    "auth",
    "comp-lzo",
    "remote-cert-tls",
    "connect-timeout",
    "server-poll-timeout",
    "connect-retry",
    "connect-retry-max",
    "auth-retry",
    "pull-filter",
    "ping",
    "ping-exit",
    "ping-restart",
    "keepalive",
    "tun-mtu",
    "mssfix",
    "data-ciphers",
    "data-ciphers-fallback",
    "auth-nocache",
    "float",
    "explicit-exit-notify",
    "mute",
    "sndbuf",
    "rcvbuf",
};

constexpr std::array<std::string_view, 3> kBlockOrder{"ca", "cert", "key"};

// The fixed lines between the remote and the optional compression lines. Of what a relay
// pushes, only what the tunnel itself needs is taken (its address and topology, gateway, peer
// id, the negotiated cipher and key derivation); routes, DNS, logging and everything else are
// ignored, and the default route is set here, so a relay cannot steer the client's traffic or
// flood its log.
constexpr std::array<std::string_view, 27> kFixedLines{
    "nobind",
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
    // Public relays (SoftEther) end a session that has been silent for about ten seconds; they
    // push "ping 3", which the filter above drops, so the client keeps that pace itself.
    "ping 3",
    "ping-exit 60",
    "data-ciphers AES-256-GCM:AES-128-GCM:CHACHA20-POLY1305:AES-128-CBC",
    "data-ciphers-fallback AES-128-CBC",
    "auth SHA1",
    "verb 3",
    "tun-mtu 1400",
    "mssfix 1360",
};

// ASCII only on purpose: a first word that only lower-cases to an allowed name through some
// other script's case mapping is refused rather than guessed at.
std::string lowercased(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

bool isBlockLine(std::string_view line) {
    if (line.empty()) return false;
    return std::all_of(line.begin(), line.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
               c == '=' || c == ' ' || c == '-';
    });
}

// A decimal port with an optional sign, as a plain decimal text; leading zeros are allowed and
// dropped ("0443" is 443). Anything else, or a value outside 1 to 65535, is none.
std::optional<std::string> portText(std::string_view word) {
    bool negative = false;
    if (!word.empty() && (word.front() == '+' || word.front() == '-')) {
        negative = word.front() == '-';
        word.remove_prefix(1);
    }
    if (word.empty()) return std::nullopt;
    long value = 0;
    for (char c : word) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > 65535) return std::nullopt;
    }
    if (negative || value < 1) return std::nullopt;
    return std::to_string(value);
}

struct Remote {
    std::string_view host;
    std::string port;
};

// The state of one examination.
struct Reading {
    std::vector<Remote> remotes;
    std::optional<std::string> transport;
    bool compression = false;
    std::map<std::string_view, std::vector<std::string_view>> blocks;
    std::optional<std::string_view> openBlock;
};

void readDirective(std::string_view line, Reading& reading) {
    const auto words = UnicodeText::words(line);
    if (words.empty()) refuse(Message::unsafeDirective);
    const std::string name = lowercased(words[0]);
    if (std::find(kAllowedDirectives.begin(), kAllowedDirectives.end(), name) == kAllowedDirectives.end()) {
        refuse(Message::unsafeDirective);
    }
    if (name == "remote") {
        if (words.size() != 3) refuse(Message::port);
        auto port = portText(words[2]);
        if (!port) refuse(Message::port);
        reading.remotes.push_back({words[1], *port});
    } else if (name == "proto") {
        if (reading.transport || words.size() != 2) refuse(Message::protocol);
        reading.transport = lowercased(words[1]);
    } else if (name == "dev") {
        if (words.size() != 2 || words[0] != "dev" || words[1] != "tun") refuse(Message::onlyTun);
    } else if (name == "comp-lzo") {
        reading.compression = true;
    }
}

void readLine(std::string_view line, Reading& reading) {
    if (line.empty() || line.front() == '#' || line.front() == ';') return;
    if (line.starts_with("</")) {
        if (!reading.openBlock || line != "</" + std::string(*reading.openBlock) + ">") refuse(Message::badCloser);
        reading.openBlock.reset();
        return;
    }
    if (line.front() == '<') {
        if (reading.openBlock || (line != "<ca>" && line != "<cert>" && line != "<key>"))
            refuse(Message::unsupportedBlock);
        const std::string_view name = line.substr(1, line.size() - 2);
        if (reading.blocks.contains(name)) refuse(Message::duplicateBlock);
        reading.blocks[name];
        reading.openBlock = name;
        return;
    }
    if (reading.openBlock) {
        if (!isBlockLine(line)) refuse(Message::pem);
        reading.blocks[*reading.openBlock].push_back(line);
        return;
    }
    readDirective(line, reading);
}

std::string mappedTransport(const std::optional<std::string>& transport) {
    if (transport == "tcp" || transport == "tcp-client" || transport == "tcp4-client") return "tcp4-client";
    if (transport == "udp" || transport == "udp4") return "udp4";
    refuse(Message::transport);
}

std::string build(const Reading& reading, std::string_view expectedHost, const std::string& transport) {
    std::string out;
    auto line = [&out](std::string_view text) {
        out.append(text);
        out.push_back('\n');
    };
    line("client");
    line("dev tun");
    line("proto " + transport);
    line("remote " + std::string(expectedHost) + " " + reading.remotes.front().port);
    for (auto fixed : kFixedLines) line(fixed);
    // Over UDP nothing tells the relay that the client has gone: the engine says so on its way
    // out, so the relay frees the session and its address at once instead of holding them
    // until its keep-alive gives up (a volunteer relay has only a few).
    if (transport == "udp4") line("explicit-exit-notify 1");
    if (reading.compression) {
        line("comp-lzo");
        line("allow-compression asym");
    }
    for (auto name : kBlockOrder) {
        line("<" + std::string(name) + ">");
        for (auto content : reading.blocks.at(name)) line(content);
        line("</" + std::string(name) + ">");
    }
    return out;
}

}  // namespace

std::string configuration(std::string_view profile, std::string_view expectedHost) {
    if (profile.size() > kMaximumProfileSize || profile.find('\0') != std::string_view::npos ||
        !isPublicIPv4(expectedHost)) {
        refuse(Message::endpointOrSize);
    }
    Reading reading;
    for (std::string_view raw : UnicodeText::splitLines(profile)) readLine(UnicodeText::trim(raw), reading);

    const bool blocksComplete = reading.blocks.size() == kBlockOrder.size() &&
                                std::all_of(reading.blocks.begin(), reading.blocks.end(),
                                            [](const auto& block) { return !block.second.empty(); });
    if (reading.openBlock || reading.remotes.size() != 1 || reading.remotes.front().host != expectedHost ||
        !blocksComplete) {
        refuse(Message::mismatch);
    }
    return build(reading, expectedHost, mappedTransport(reading.transport));
}

bool isPublicIPv4(std::string_view text) {
    const std::string terminated(text);
    in_addr address{};
    if (terminated.find('\0') != std::string::npos || ::inet_pton(AF_INET, terminated.c_str(), &address) != 1) {
        return false;
    }
    std::vector<int> parts;
    for (std::string_view rest = text; !rest.empty();) {
        const auto dot = rest.find('.');
        const std::string_view part = rest.substr(0, dot);
        int value = 0;
        if (!part.empty()) {
            auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
            if (error == std::errc() && end == part.data() + part.size()) parts.push_back(value);
        }
        if (dot == std::string_view::npos) break;
        rest.remove_prefix(dot + 1);
    }
    if (parts.size() != 4) return false;
    const int a = parts[0];
    const int b = parts[1];
    return !(a == 0 || a >= 224 || a == 10 || a == 127 || (a == 100 && b >= 64 && b <= 127) || (a == 169 && b == 254) ||
             (a == 172 && b >= 16 && b <= 31) || (a == 192 && b == 0) || (a == 192 && b == 168) ||
             (a == 198 && (b == 18 || b == 19)));
}

}  // namespace orlune::ProfilePolicy
