#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "dns/dns_backend_resolvconf_linux.h"
#include "dns/dns_backend_resolved_linux.h"
#include "dns/system_dns_backend.h"

namespace orlune {
namespace {

namespace fs = std::filesystem;

// systemd-resolved owns DNS when the resolver file is its link and its tool is installed;
// otherwise the file itself is the setting.
bool resolvedManagesDNS() {
    std::error_code error;
    if (!fs::is_symlink("/etc/resolv.conf", error)) return false;
    fs::path target = fs::read_symlink("/etc/resolv.conf", error);
    if (error) return false;
    if (target.is_relative()) target = fs::path("/etc") / target;
    const std::string resolved = target.lexically_normal().string();
    return resolved.starts_with("/run/systemd/resolve/") && ::access("/usr/bin/resolvectl", X_OK) == 0;
}

}  // namespace

std::unique_ptr<DNSBackend> makeSystemDNSBackend(ToolRunner& runner) {
    if (resolvedManagesDNS()) return std::make_unique<ResolvedDNSBackend>(runner);
    return std::make_unique<ResolvConfDNSBackend>();
}

}  // namespace orlune
