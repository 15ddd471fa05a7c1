#pragma once

#include <string>
#include <vector>

#include "core/service_failure.h"

namespace orlune {

// The sentences of the DNS switch's own failures. A tool that fails gives kNetworkCommandFailed.
inline constexpr const char* kDNSServiceVanished = "The primary network service no longer exists.";
inline constexpr const char* kDNSSettingsFailed = "The system's DNS settings could not be changed.";

// Thrown by a backend when the network service it is asked about no longer exists (an adapter
// that was unplugged, a service that was deleted), as opposed to a tool that failed. Such a
// service has no setting left to restore.
class DNSServiceVanished : public ServiceFailure {
public:
    explicit DNSServiceVanished(const std::string& service)
        : ServiceFailure(kDNSServiceVanished, "the network service \"" + service + "\" no longer exists") {}
};

// How one system names its primary network service and reads and sets its DNS servers. The
// override's record-and-restore logic is the same for every backend. Every call may block for
// the duration of a system tool; failures throw ServiceFailure, with what the tool runner throws or
// kDNSSettingsFailed for the platform's file errors, except where a method says otherwise.
class DNSBackend {
public:
    virtual ~DNSBackend() = default;

    // The network service that carries the system's traffic, under the name the record keeps.
    // Throws ServiceFailure with the sentence of what could not be identified.
    virtual std::string primaryService() = 0;

    // The DNS servers of `service` in the system's order; empty when it has none of its own.
    // Throws DNSServiceVanished when the service does not exist.
    virtual std::vector<std::string> servers(const std::string& service) = 0;

    // Whether the servers go on the tunnel's own link once it exists, instead of on the primary
    // service at connect: where a resolver sends each link's queries out of that very link, the
    // primary link would carry them around the tunnel.
    virtual bool setsTunnelLink() { return false; }

    // Points `service` at `servers` for the tunnel's lifetime.
    virtual void applyServers(const std::string& service, const std::vector<std::string>& servers) = 0;

    // Gives `service` back the `previous` servers; empty means the service had none of its own.
    // Throws DNSServiceVanished when the service does not exist.
    virtual void restoreServers(const std::string& service, const std::vector<std::string>& previous) = 0;
};

}  // namespace orlune
