#pragma once

#include "core/tool_runner.h"
#include "dns/dns_backend.h"

namespace orlune {

// NetworkManager writing /etc/resolv.conf itself. The "network service" is NetworkManager's
// global DNS configuration (the service name below): set over its D-Bus API, it takes precedence
// over every connection's servers, so it holds while NetworkManager re-applies a connection or
// renews a DHCP lease, and no connection profile is ever modified. Servers are those of the
// configuration's default domain "*"; empty means no global configuration.
class NetworkManagerDNSBackend final : public DNSBackend {
public:
    static constexpr const char* kService = "NetworkManager";

    explicit NetworkManagerDNSBackend(ToolRunner& runner) : runner_(runner) {}

    std::string primaryService() override { return kService; }
    // Throws DNSServiceVanished for a record that names anything else (written by another backend).
    std::vector<std::string> servers(const std::string& service) override;
    void applyServers(const std::string& service, const std::vector<std::string>& servers) override;
    // An empty `previous` clears the global configuration, which gives every connection its own
    // servers back.
    void restoreServers(const std::string& service, const std::vector<std::string>& previous) override;

private:
    void setGlobalServers(const std::string& service, const std::vector<std::string>& servers);

    ToolRunner& runner_;
};

// The default domain's servers in busctl's JSON rendering of the GlobalDnsConfiguration property
// ({"type":"a{sv}","data":{...}}). Throws ServiceFailure for any other shape, and for a
// configuration with more than servers for "*" (searches, options, other domains), which a
// restore of servers alone could not give back.
std::vector<std::string> parseGlobalDnsServers(std::string_view busctlJson);

}  // namespace orlune
