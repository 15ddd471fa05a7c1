#include "dns/dns_backend_macos.h"

#include "core/service_failure.h"
#include "core/unicode_text.h"

namespace orlune {
namespace {

constexpr const char* kScutil = "/usr/sbin/scutil";
constexpr const char* kNetworksetup = "/usr/sbin/networksetup";

std::vector<std::string_view> lines(std::string_view text) {
    return UnicodeText::splitLines(text);
}

std::vector<std::string_view> splitAtSpaces(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find(' ', start);
        const auto piece = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!piece.empty()) pieces.push_back(piece);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return pieces;
}

bool isServiceIdentifier(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex && c != '-') return false;
    }
    return true;
}

std::string_view trimSpacesAndTabs(std::string_view text) {
    const auto begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return {};
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

}  // namespace

std::string MacOSDNSBackend::primaryService() {
    const std::string global = runner_.run(kScutil, {}, std::string("show State:/Network/Global/IPv4\nquit\n"));
    std::string identifier;
    for (auto line : lines(global)) {
        if (line.find("PrimaryService :") == std::string_view::npos) continue;
        const auto pieces = splitAtSpaces(line);
        if (!pieces.empty()) identifier = std::string(pieces.back());
        break;
    }
    // The identifier goes into scutil's input: anything but hex digits and hyphens could add
    // commands of its own.
    if (!isServiceIdentifier(identifier)) {
        throw ServiceFailure::rejected("The primary network service could not be identified.");
    }

    const std::string setup = runner_.run(kScutil, {}, "show Setup:/Network/Service/" + identifier + "\nquit\n");
    constexpr std::string_view kName = "UserDefinedName :";
    for (auto line : lines(setup)) {
        const auto at = line.find(kName);
        if (at == std::string_view::npos) continue;
        return std::string(trimSpacesAndTabs(line.substr(at + kName.size())));
    }
    throw ServiceFailure::rejected("The primary network name could not be identified.");
}

std::vector<std::string> MacOSDNSBackend::servers(const std::string& service) {
    const std::string output = networksetup(service, {"-getdnsservers", service});
    if (output.find("There aren't any DNS Servers") != std::string::npos) return {};
    std::vector<std::string> result;
    for (auto line : lines(output)) {
        if (!line.empty()) result.emplace_back(line);
    }
    return result;
}

void MacOSDNSBackend::applyServers(const std::string& service, const std::vector<std::string>& servers) {
    std::vector<std::string> arguments{"-setdnsservers", service};
    arguments.insert(arguments.end(), servers.begin(), servers.end());
    networksetup(service, arguments);
}

void MacOSDNSBackend::restoreServers(const std::string& service, const std::vector<std::string>& previous) {
    if (previous.empty()) {
        networksetup(service, {"-setdnsservers", service, "Empty"});
    } else {
        applyServers(service, previous);
    }
}

std::string MacOSDNSBackend::networksetup(const std::string& service, const std::vector<std::string>& arguments) {
    try {
        return runner_.run(kNetworksetup, arguments);
    } catch (const ServiceFailure&) {
        bool listed = true;
        try {
            listed = serviceIsListed(service);
        } catch (const std::exception&) {
            // The list cannot be read either: the first failure is the one to report.
        }
        if (!listed) throw DNSServiceVanished(service);
        throw;
    }
}

bool MacOSDNSBackend::serviceIsListed(const std::string& service) {
    // One name per line; a disabled service carries a leading asterisk.
    const std::string list = runner_.run(kNetworksetup, {"-listallnetworkservices"});
    for (auto line : lines(list)) {
        if (line == service || (line.starts_with("*") && line.substr(1) == service)) return true;
    }
    return false;
}

}  // namespace orlune
