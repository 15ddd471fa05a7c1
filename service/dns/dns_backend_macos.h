#pragma once

#include "core/tool_runner.h"
#include "dns/dns_backend.h"

namespace orlune {

// macOS: the primary service from scutil, its servers through networksetup. Only text in and
// out of the tools, so it builds everywhere and is tested with recorded tool outputs.
class MacOSDNSBackend final : public DNSBackend {
public:
    explicit MacOSDNSBackend(ToolRunner& runner) : runner_(runner) {}

    std::string primaryService() override;
    std::vector<std::string> servers(const std::string& service) override;
    void applyServers(const std::string& service, const std::vector<std::string>& servers) override;
    void restoreServers(const std::string& service, const std::vector<std::string>& previous) override;

private:
    // Runs networksetup about `service`; when it fails and the service is positively missing
    // from the list of services, that is DNSServiceVanished instead of the tool's failure.
    std::string networksetup(const std::string& service, const std::vector<std::string>& arguments);
    bool serviceIsListed(const std::string& service);

    ToolRunner& runner_;
};

}  // namespace orlune
