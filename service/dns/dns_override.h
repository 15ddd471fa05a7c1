#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "dns/dns_backend.h"

namespace orlune {

inline constexpr std::string_view kDNSRecordName = "dns.json";

// The servers the tunnel uses, in this order.
inline const std::vector<std::string>& overrideServers() {
    static const std::vector<std::string> servers{"1.1.1.1", "8.8.8.8"};
    return servers;
}

// Switches the primary network service's DNS to the tunnel's servers and gives it back. The
// record file is written before anything changes and removed only after a successful restore,
// so a restore also works after a crash, and a setting the user changed meanwhile is left alone.
class DNSOverride {
public:
    // `recordPath` is the record file, normally dns.json in the service's state directory.
    DNSOverride(DNSBackend& backend, std::filesystem::path recordPath)
        : backend_(backend), recordPath_(std::move(recordPath)) {}

    // Records the primary service and its current servers, then sets the tunnel's servers. A
    // failure before the record is written changes nothing; a failure after it keeps the record.
    // A backend that sets the tunnel's own link only marks the switch as due.
    void applyDNS();

    // The switch that was due for the tunnel's link, done on `link` the same way (record first).
    // Nothing when none is due; tried once per applyDNS.
    void applyOnTunnelLink(const std::string& link);

    // Undoes a recorded switch, if there is one, and removes the record. A record that cannot be
    // read, or a tool that fails, keeps the record and throws. A recorded service that no longer
    // exists has nothing left to restore: its record is removed and the call succeeds.
    void restoreDNS();

    // The DNS servers of `service`, empty when it has none.
    std::vector<std::string> currentDNS(const std::string& service) { return backend_.servers(service); }

    const std::filesystem::path& recordPath() const { return recordPath_; }

private:
    void switchService(const std::string& service);

    DNSBackend& backend_;
    std::filesystem::path recordPath_;
    bool tunnelLinkDue_ = false;
};

}  // namespace orlune
