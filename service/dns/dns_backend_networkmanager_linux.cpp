#include "dns/dns_backend_networkmanager_linux.h"

#include <nlohmann/json.hpp>

#include "core/service_failure.h"

namespace orlune {
namespace {

constexpr const char* kBusctl = "/usr/bin/busctl";
constexpr const char* kBusName = "org.freedesktop.NetworkManager";
constexpr const char* kObject = "/org/freedesktop/NetworkManager";
constexpr const char* kProperty = "GlobalDnsConfiguration";

const nlohmann::json& variantData(const nlohmann::json& variant, const char* type) {
    if (!variant.is_object() || variant.value("type", "") != type || !variant.contains("data")) {
        throw ServiceFailure::rejected(kNetworkCommandFailed);
    }
    return variant["data"];
}

bool emptyList(const nlohmann::json& variant) {
    return variantData(variant, "as").empty();
}

}  // namespace

std::vector<std::string> parseGlobalDnsServers(std::string_view busctlJson) {
    const nlohmann::json root = nlohmann::json::parse(busctlJson, nullptr, false);
    if (root.is_discarded()) throw ServiceFailure::rejected(kNetworkCommandFailed);
    std::vector<std::string> servers;
    for (const auto& [key, value] : variantData(root, "a{sv}").items()) {
        if ((key == "searches" || key == "options") && emptyList(value)) continue;
        if (key != "domains") throw ServiceFailure::rejected(kNetworkCommandFailed);
        for (const auto& [domain, settings] : variantData(value, "a{sv}").items()) {
            if (domain != "*") throw ServiceFailure::rejected(kNetworkCommandFailed);
            for (const auto& [name, list] : variantData(settings, "a{sv}").items()) {
                if (name == "options" && emptyList(list)) continue;
                if (name != "servers") throw ServiceFailure::rejected(kNetworkCommandFailed);
                for (const auto& server : variantData(list, "as")) {
                    if (!server.is_string()) throw ServiceFailure::rejected(kNetworkCommandFailed);
                    servers.push_back(server.get<std::string>());
                }
            }
        }
    }
    return servers;
}

std::vector<std::string> NetworkManagerDNSBackend::servers(const std::string& service) {
    if (service != kService) throw DNSServiceVanished(service);
    return parseGlobalDnsServers(
        runner_.run(kBusctl, {"--json=short", "get-property", kBusName, kObject, kBusName, kProperty}));
}

void NetworkManagerDNSBackend::applyServers(const std::string& service, const std::vector<std::string>& servers) {
    setGlobalServers(service, servers);
}

void NetworkManagerDNSBackend::restoreServers(const std::string& service, const std::vector<std::string>& previous) {
    setGlobalServers(service, previous);
}

void NetworkManagerDNSBackend::setGlobalServers(const std::string& service, const std::vector<std::string>& servers) {
    if (service != kService) throw DNSServiceVanished(service);
    std::vector<std::string> arguments{"set-property", kBusName, kObject, kBusName, kProperty, "a{sv}"};
    if (servers.empty()) {
        arguments.emplace_back("0");
    } else {
        // {"domains": {"*": {"servers": [servers...]}}}
        for (const char* word : {"1", "domains", "a{sv}", "1", "*", "a{sv}", "1", "servers", "as"})
            arguments.emplace_back(word);
        arguments.push_back(std::to_string(servers.size()));
        arguments.insert(arguments.end(), servers.begin(), servers.end());
    }
    runner_.run(kBusctl, arguments);
}

}  // namespace orlune
