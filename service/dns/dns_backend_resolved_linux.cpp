#include "dns/dns_backend_resolved_linux.h"

#include <net/if.h>

#include "core/service_failure.h"
#include "core/unicode_text.h"
#include "dns/route_interface.h"

namespace orlune {
namespace {

constexpr const char* kResolvectl = "/usr/bin/resolvectl";

}  // namespace

std::optional<std::vector<std::string>> parseResolvectlDns(std::string_view output, const std::string& link) {
    const std::string marker = "(" + link + "):";
    for (auto line : UnicodeText::splitLines(output)) {
        const auto at = line.find(marker);
        if (at == std::string_view::npos) continue;
        std::vector<std::string> servers;
        for (auto word : UnicodeText::words(line.substr(at + marker.size()))) servers.emplace_back(word);
        return servers;
    }
    return std::nullopt;
}

bool ResolvedDNSBackend::kernelLinkExists(const std::string& link) {
    return ::if_nametoindex(link.c_str()) != 0;
}

std::string ResolvedDNSBackend::primaryService() {
    std::optional<std::string> link;
    try {
        const std::string routes = runner_.run("/sbin/ip", {"-4", "route", "show", "default"});
        for (auto line : UnicodeText::splitLines(routes)) {
            const auto words = UnicodeText::words(line);
            if (words.empty() || words.front() != "default") continue;
            link = parseIpRouteGet(line);
            break;
        }
    } catch (const ServiceFailure&) {
    }
    if (!link) throw ServiceFailure::rejected("The primary network service could not be identified.");
    return *link;
}

std::vector<std::string> ResolvedDNSBackend::servers(const std::string& link) {
    auto servers = parseResolvectlDns(resolvectl(link, {"dns", link}), link);
    // An answer of another shape is not guessed at: the record stays until it can be read.
    if (!servers) throw ServiceFailure::rejected(kNetworkCommandFailed);
    return *servers;
}

void ResolvedDNSBackend::applyServers(const std::string& link, const std::vector<std::string>& servers) {
    std::vector<std::string> arguments{"dns", link};
    arguments.insert(arguments.end(), servers.begin(), servers.end());
    resolvectl(link, std::move(arguments));
    resolvectl(link, {"domain", link, "~."});
    resolvectl(link, {"default-route", link, "yes"});
}

void ResolvedDNSBackend::restoreServers(const std::string& link, const std::vector<std::string>& previous) {
    // Servers, domains and the default route all go back to what the link's manager set.
    resolvectl(link, {"revert", link});
    if (previous.empty()) return;
    std::vector<std::string> arguments{"dns", link};
    arguments.insert(arguments.end(), previous.begin(), previous.end());
    resolvectl(link, std::move(arguments));
}

std::string ResolvedDNSBackend::resolvectl(const std::string& link, const std::vector<std::string>& arguments) {
    try {
        return runner_.run(kResolvectl, arguments);
    } catch (const ServiceFailure&) {
        if (!linkExists_(link)) throw DNSServiceVanished(link);
        throw;
    }
}

}  // namespace orlune
