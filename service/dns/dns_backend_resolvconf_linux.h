#pragma once

#include <filesystem>

#include "dns/dns_backend.h"

namespace orlune {

// A plain resolver file: the "network service" is the file's path and its servers are its
// nameserver lines. Changes rewrite only those lines, in place (the file may be a bind mount,
// which a rename would not replace); every other line stays byte for byte.
class ResolvConfDNSBackend final : public DNSBackend {
public:
    explicit ResolvConfDNSBackend(std::filesystem::path path = "/etc/resolv.conf") : path_(std::move(path)) {}

    std::string primaryService() override { return path_.string(); }
    std::vector<std::string> servers(const std::string& service) override;
    void applyServers(const std::string& service, const std::vector<std::string>& servers) override;
    void restoreServers(const std::string& service, const std::vector<std::string>& previous) override;

private:
    // A record that names anything but this file (written while another backend was in use)
    // has no setting here to restore.
    void requireThisFile(const std::string& service) const;
    void rewrite(const std::vector<std::string>& servers);

    std::filesystem::path path_;
};

// The file's text with its nameserver lines replaced by `servers`: the n-th nameserver line
// becomes the n-th server, surplus lines go, further servers follow the last nameserver line (or
// the end of the text when there was none).
std::string replaceNameservers(std::string_view text, const std::vector<std::string>& servers);
// The servers that the nameserver lines of `text` name, in order.
std::vector<std::string> nameservers(std::string_view text);

}  // namespace orlune
