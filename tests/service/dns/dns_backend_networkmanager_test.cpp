#include "dns/dns_backend_networkmanager_linux.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "core/service_failure.h"
#include "dns/dns_override.h"
#include "support/fake_tool_runner.h"

namespace orlune {
namespace {

namespace fs = std::filesystem;
using testing::FakeToolRunner;
using testing::ToolCall;

std::string busctlJson(const std::vector<std::string>& servers) {
    if (servers.empty()) return R"({"type":"a{sv}","data":{}})";
    std::string list;
    for (const auto& server : servers) list += (list.empty() ? "\"" : ",\"") + server + "\"";
    return R"({"type":"a{sv}","data":{"searches":{"type":"as","data":[]},"domains":{"type":"a{sv}","data":{"*":{"type":"a{sv}","data":{"servers":{"type":"as","data":[)" +
           list + "]}}}}}}}";
}

TEST(NetworkManagerGlobalDns, OnlyAServerListIsTakenForARestorableSetting) {
    EXPECT_EQ(parseGlobalDnsServers(busctlJson({})), std::vector<std::string>{});
    EXPECT_EQ(parseGlobalDnsServers(busctlJson({"192.0.2.1", "2001:db8::1"})),
              (std::vector<std::string>{"192.0.2.1", "2001:db8::1"}));
    for (
        const char* refused :
        {R"({"type":"a{sv}","data":{"searches":{"type":"as","data":["corp.example"]}}})",
         R"({"type":"a{sv}","data":{"domains":{"type":"a{sv}","data":{"corp.example":{"type":"a{sv}","data":{}}}}}})",
         R"({"type":"a{sv}","data":{"domains":{"type":"a{sv}","data":{"*":{"type":"a{sv}","data":{"servers":{"type":"as","data":[1]}}}}}}})",
         R"({"type":"as","data":[]})", "", "not json"}) {
        EXPECT_THROW(parseGlobalDnsServers(refused), ServiceFailure) << refused;
    }
}

// NetworkManager's global configuration as busctl reads and sets it, through the override.
TEST(NetworkManagerBackend, GlobalServersAreSetForTheSessionAndClearedAfter) {
    char pattern[] = "/tmp/orlune-nm-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path directory = pattern;
    std::vector<std::string> global;
    FakeToolRunner runner([&](const ToolCall& call) -> std::string {
        EXPECT_EQ(call.executable, "/usr/bin/busctl");
        if (call.arguments.at(0) == "--json=short") return busctlJson(global);
        const std::vector<std::string> head(call.arguments.begin(), call.arguments.begin() + 6);
        EXPECT_EQ(head, (std::vector<std::string>{"set-property", "org.freedesktop.NetworkManager",
                                                  "/org/freedesktop/NetworkManager", "org.freedesktop.NetworkManager",
                                                  "GlobalDnsConfiguration", "a{sv}"}));
        if (call.arguments.at(6) == "0") {
            global.clear();
        } else {
            EXPECT_EQ(
                std::vector<std::string>(call.arguments.begin() + 6, call.arguments.begin() + 16),
                (std::vector<std::string>{"1", "domains", "a{sv}", "1", "*", "a{sv}", "1", "servers", "as", "2"}));
            global.assign(call.arguments.begin() + 16, call.arguments.end());
        }
        return "";
    });
    NetworkManagerDNSBackend backend(runner);
    DNSOverride dns(backend, directory / kDNSRecordName);

    dns.applyDNS();
    EXPECT_EQ(global, (std::vector<std::string>{"1.1.1.1", "8.8.8.8"}));
    dns.restoreDNS();
    EXPECT_TRUE(global.empty());
    EXPECT_FALSE(fs::exists(directory / kDNSRecordName));

    // A setting somebody else made during the session stays.
    dns.applyDNS();
    global = {"192.0.2.53"};
    dns.restoreDNS();
    EXPECT_EQ(global, std::vector<std::string>{"192.0.2.53"});
    fs::remove_all(directory);
}

}  // namespace
}  // namespace orlune
