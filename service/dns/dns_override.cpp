#include "dns/dns_override.h"

#include <errno.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <system_error>

#include "dns/dns_record.h"
#include "main/file_writer.h"

namespace orlune {
namespace {

namespace fs = std::filesystem;

std::string readRecordFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) throw std::system_error(errno, std::generic_category(), "Could not read " + path.string());
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) throw std::system_error(EIO, std::generic_category(), "Could not read " + path.string());
    return text;
}

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
    std::error_code error;
    if (fs::symlink_status(recordPath_, error).type() == fs::file_type::not_found) return;

    const DNSRecord record = dnsRecordFromJson(readRecordFile(recordPath_));
    try {
        if (currentDNS(record.service) == record.applied) backend_.restoreServers(record.service, record.previous);
        // Otherwise somebody changed the setting since: theirs stays.
    } catch (const DNSServiceVanished&) {
        // Nothing is left to restore. Keeping the record would fail every later restore, and the
        // service's start-up with it.
    }
    if (::unlink(recordPath_.c_str()) != 0 && errno != ENOENT) {
        throw std::system_error(errno, std::generic_category(), "Could not remove " + recordPath_.string());
    }
}

}  // namespace orlune
