#include "dns/dns_backend_resolved_linux.h"

#include <filesystem>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "core/service_failure.h"
#include "dns/dns_override.h"
#include "support/fake_tool_runner.h"

namespace orlune {
namespace {

namespace fs = std::filesystem;
using testing::FakeToolRunner;
using testing::ToolCall;
using Calls = std::vector<std::vector<std::string>>;

// What ip and resolvectl would answer with systemd-resolved managing these links.
struct SimulatedResolved {
    std::string defaultRoute = "default via 192.0.2.1 dev enp3s0 proto dhcp src 192.0.2.10 metric 100\n";
    std::map<std::string, std::vector<std::string>> links{{"enp3s0", {"192.0.2.1", "2001:db8::1"}}, {"lo", {}}};
    std::set<std::string> failing;  // resolvectl verbs that exit with status 1

    std::string answer(const ToolCall& call) {
        if (call.executable == "/sbin/ip") {
            EXPECT_EQ(call.arguments, (std::vector<std::string>{"-4", "route", "show", "default"}));
            return defaultRoute;
        }
        EXPECT_EQ(call.executable, "/usr/bin/resolvectl");
        const std::string& verb = call.arguments.at(0);
        const std::string& link = call.arguments.at(1);
        if (failing.contains(verb) || !links.contains(link)) throw ServiceFailure::rejected(kNetworkCommandFailed);
        if (verb == "dns" && call.arguments.size() == 2) {
            std::string line = "Link 3 (" + link + "):";
            for (const auto& server : links[link]) line += " " + server;
            return line + "\n";
        }
        if (verb == "dns") links[link].assign(call.arguments.begin() + 2, call.arguments.end());
        if (verb == "revert") links[link].clear();
        return "";
    }
};

class ResolvedBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orlune-resolved-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        directory_ = pattern;
        runner_.setHandler([this](const ToolCall& call) { return system_.answer(call); });
    }
    void TearDown() override { fs::remove_all(directory_); }

    Calls resolvectlCalls() const {
        Calls result;
        for (const auto& call : runner_.calls) {
            if (call.executable == "/usr/bin/resolvectl") result.push_back(call.arguments);
        }
        return result;
    }

    fs::path directory_;
    SimulatedResolved system_;
    FakeToolRunner runner_;
    ResolvedDNSBackend backend_{runner_, [this](const std::string& link) { return system_.links.contains(link); }};
    std::optional<DNSOverride> override_;
    DNSOverride& dns() {
        if (!override_) override_.emplace(backend_, directory_ / kDNSRecordName);
        return *override_;
    }
};

TEST_F(ResolvedBackendTest, TunnelLinkCarriesTheServersAndOtherLinksAreNeverTouched) {
    dns().applyDNS();
    EXPECT_TRUE(runner_.calls.empty());  // nothing before the tunnel exists
    system_.links["tun0"] = {};
    dns().applyOnTunnelLink("tun0");
    dns().applyOnTunnelLink("tun0");  // later status polls change nothing
    EXPECT_EQ(system_.links["tun0"], (std::vector<std::string>{"1.1.1.1", "8.8.8.8"}));
    dns().restoreDNS();
    EXPECT_EQ(resolvectlCalls(), (Calls{
                                     {"dns", "tun0"},
                                     {"dns", "tun0", "1.1.1.1", "8.8.8.8"},
                                     {"domain", "tun0", "~."},
                                     {"default-route", "tun0", "yes"},
                                     {"dns", "tun0"},
                                     {"revert", "tun0"},
                                 }));
    EXPECT_EQ(system_.links["enp3s0"], (std::vector<std::string>{"192.0.2.1", "2001:db8::1"}));
    EXPECT_FALSE(fs::exists(directory_ / kDNSRecordName));
}

TEST_F(ResolvedBackendTest, ClosedTunnelLinkIsForgottenButAFailingToolIsNot) {
    system_.links["tun0"] = {};
    dns().applyDNS();
    dns().applyOnTunnelLink("tun0");
    system_.failing = {"dns"};
    EXPECT_THROW(dns().restoreDNS(), ServiceFailure);
    EXPECT_TRUE(fs::exists(directory_ / kDNSRecordName));

    system_.failing.clear();
    system_.links.erase("tun0");  // the engine closed its tunnel
    dns().restoreDNS();
    EXPECT_FALSE(fs::exists(directory_ / kDNSRecordName));
    dns().applyOnTunnelLink("tun1");  // no switch is due after a restore
    EXPECT_FALSE(system_.links.contains("tun1"));
}

TEST(ResolvectlOutput, ServersOfTheAskedLinkOnly) {
    EXPECT_EQ(parseResolvectlDns("Link 3 (enp3s0): 192.0.2.1 1.1.1.1#cloudflare-dns.com fe80::1%enp3s0\n", "enp3s0"),
              (std::vector<std::string>{"192.0.2.1", "1.1.1.1#cloudflare-dns.com", "fe80::1%enp3s0"}));
    EXPECT_EQ(parseResolvectlDns("Link 3 (enp3s0):\n", "enp3s0"), std::vector<std::string>{});
    EXPECT_EQ(parseResolvectlDns("Link 4 (enp3s01): 192.0.2.1\n", "enp3s0"), std::nullopt);
    EXPECT_EQ(parseResolvectlDns("Global: 1.1.1.1\n", "enp3s0"), std::nullopt);
    EXPECT_EQ(parseResolvectlDns("", "enp3s0"), std::nullopt);
}

}  // namespace
}  // namespace orlune
