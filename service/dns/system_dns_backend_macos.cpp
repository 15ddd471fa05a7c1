#include "dns/dns_backend_macos.h"
#include "dns/system_dns_backend.h"

namespace orlune {

std::unique_ptr<DNSBackend> makeSystemDNSBackend(ToolRunner& runner) {
    return std::make_unique<MacOSDNSBackend>(runner);
}

}  // namespace orlune
