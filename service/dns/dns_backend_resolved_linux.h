#pragma once

#include <functional>

#include "core/tool_runner.h"
#include "dns/dns_backend.h"

namespace orlune {

// systemd-resolved: the tunnel's servers go on the tunnel's own link, which is also made the route
// for every domain ("~.") so no other link's servers are asked. resolved sends a link's queries
// out of that very link, so servers set on the primary link would reach them around the tunnel.
// Other links are never changed; the tunnel's link loses its settings when the engine closes it.
class ResolvedDNSBackend final : public DNSBackend {
public:
    // Whether a network link of this name exists; the real check asks the kernel.
    using LinkExists = std::function<bool(const std::string&)>;

    explicit ResolvedDNSBackend(ToolRunner& runner, LinkExists linkExists = kernelLinkExists)
        : runner_(runner), linkExists_(std::move(linkExists)) {}

    // The link of the default IPv4 route (not where the servers go: see setsTunnelLink).
    std::string primaryService() override;
    bool setsTunnelLink() override { return true; }
    std::vector<std::string> servers(const std::string& link) override;
    void applyServers(const std::string& link, const std::vector<std::string>& servers) override;
    void restoreServers(const std::string& link, const std::vector<std::string>& previous) override;

    static bool kernelLinkExists(const std::string& link);

private:
    // Runs resolvectl about `link`; a failure for a link the kernel no longer has is
    // DNSServiceVanished instead of the tool's failure.
    std::string resolvectl(const std::string& link, const std::vector<std::string>& arguments);

    ToolRunner& runner_;
    LinkExists linkExists_;
};

// The servers of `link` in "resolvectl dns LINK" output ("Link 2 (eth0): 192.0.2.1 2001:db8::1"),
// or none when the output has no line for that link.
std::optional<std::vector<std::string>> parseResolvectlDns(std::string_view output, const std::string& link);

}  // namespace orlune
