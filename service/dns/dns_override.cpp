#include "dns/dns_override.h"

#include <errno.h>
#include <unistd.h>

#include "core/descriptor_reading.h"
#include "core/file_writer.h"
#include "core/service_failure.h"
#include "dns/dns_record.h"

namespace orlune {
namespace {

// A record holds a few addresses and a name; anything far larger is not one.
constexpr std::size_t kRecordLimit = 64 * 1024;

}  // namespace

void DNSOverride::applyDNS() {
    tunnelLinkDue_ = backend_.setsTunnelLink();
    if (tunnelLinkDue_) return;
    switchService(backend_.primaryService());
}

void DNSOverride::applyOnTunnelLink(const std::string& link) {
    if (!tunnelLinkDue_) return;
    tunnelLinkDue_ = false;
    switchService(link);
}

void DNSOverride::switchService(const std::string& service) {
    const std::vector<std::string> previous = currentDNS(service);
    save(toJson(DNSRecord{service, previous, overrideServers()}), recordPath_);
    backend_.applyServers(service, overrideServers());
}

void DNSOverride::restoreDNS() {
    tunnelLinkDue_ = false;
    const std::optional<std::string> text = readFile(recordPath_, kRecordLimit, kStateFileFailed);
    if (!text) return;
    const DNSRecord record = dnsRecordFromJson(*text);
    try {
        if (currentDNS(record.service) == record.applied) backend_.restoreServers(record.service, record.previous);
        // Otherwise somebody changed the setting since: theirs stays.
    } catch (const DNSServiceVanished&) {
        // Nothing is left to restore. Keeping the record would fail every later restore, and the
        // service's start-up with it.
    }
    if (::unlink(recordPath_.c_str()) != 0 && errno != ENOENT) {
        throw ServiceFailure::system(kStateFileFailed, errno, "Could not remove " + recordPath_.string());
    }
}

}  // namespace orlune
