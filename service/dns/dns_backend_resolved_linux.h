#pragma once

#include <functional>

#include "dns/dns_backend.h"
#include "main/tool_runner.h"

namespace orlune {

// systemd-resolved: the "network service" is the link of the default IPv4 route; its servers are
// read and set with resolvectl, and while the tunnel runs that link is also made the route for
// every domain ("~."), so no other link's resolver answers.
class ResolvedDNSBackend final : public DNSBackend {
public:
    // Whether a network link of this name exists; the real check asks the kernel.
    using LinkExists = std::function<bool(const std::string&)>;

    explicit ResolvedDNSBackend(ToolRunner& runner, LinkExists linkExists = kernelLinkExists)
        : runner_(runner), linkExists_(std::move(linkExists)) {}

    std::string primaryService() override;
    std::vector<std::string> servers(const std::string& link) override;
    void applyServers(const std::string& link, const std::vector<std::string>& servers) override;
    void restoreServers(const std::string& link, const std::vector<std::string>& previous) override;

    static bool kernelLinkExists(const std::string& link);

private:
    // Runs resolvectl about `link`; a failure for a link the kernel no longer has is
    // DNSServiceVanished instead of the tool's failure.
    std::string resolvectl(const std::string& link, std::vector<std::string> arguments);

    ToolRunner& runner_;
    LinkExists linkExists_;
};

// The servers of `link` in "resolvectl dns LINK" output ("Link 2 (eth0): 192.0.2.1 2001:db8::1"),
// or none when the output has no line for that link.
std::optional<std::vector<std::string>> parseResolvectlDns(std::string_view output, const std::string& link);

}  // namespace orlune
