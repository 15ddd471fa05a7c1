// The record-and-restore algorithm, driven through the macOS tool protocol with recorded tool
// outputs: a small simulated network configuration answers scutil and networksetup.
#include "dns/dns_override.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "core/service_failure.h"
#include "dns/dns_backend_macos.h"
#include "dns/dns_record.h"
#include "support/fake_tool_runner.h"

namespace orlune {
namespace {

namespace fs = std::filesystem;
using testing::FakeToolRunner;
using testing::ToolCall;

constexpr const char* kServiceID = "8A3C1D2E-4B5F-4C6D-9E7F-0123456789AB";

// What scutil and networksetup would answer on a Mac with these services.
struct SimulatedMac {
    std::string primaryID = kServiceID;
    std::string primaryName = "USB 10/100/1000 LAN";
    std::map<std::string, std::vector<std::string>> services{{"USB 10/100/1000 LAN", {}}, {"Wi-Fi", {"192.168.1.1"}}};
    std::set<std::string> failing;  // first arguments (or "scutil") of commands that exit with status 1

    std::string answer(const ToolCall& call) {
        const std::string verb = call.executable == "/usr/sbin/scutil" ? "scutil" : call.arguments.at(0);
        if (failing.contains(verb)) throw ServiceFailure::rejected(kNetworkCommandFailed);
        if (verb == "scutil") return scutil(call.input.value_or(""));
        if (call.executable != "/usr/sbin/networksetup") throw std::logic_error("unexpected tool " + call.executable);
        if (verb == "-listallnetworkservices") {
            std::string list = "An asterisk (*) denotes that a network service is disabled.\n";
            for (const auto& [name, servers] : services) list += "*" + name + "\n";  // listed as disabled
            return list;
        }
        const std::string& name = call.arguments.at(1);
        if (!services.contains(name)) {
            // networksetup's answer for an unknown service, with a failure status.
            throw ServiceFailure::rejected(kNetworkCommandFailed);
        }
        if (verb == "-getdnsservers") {
            if (services[name].empty()) return "There aren't any DNS Servers set on " + name + ".\n";
            std::string out;
            for (const auto& server : services[name]) out += server + "\n";
            return out;
        }
        if (verb == "-setdnsservers") {
            std::vector<std::string> servers(call.arguments.begin() + 2, call.arguments.end());
            if (servers == std::vector<std::string>{"Empty"}) servers.clear();
            services[name] = servers;
            return "";
        }
        throw std::logic_error("unexpected networksetup " + verb);
    }

    std::string scutil(const std::string& input) {
        if (input == "show State:/Network/Global/IPv4\nquit\n") {
            return "<dictionary> {\n  PrimaryInterface : en7\n  PrimaryService : " + primaryID +
                   "\n  Router : 192.168.1.1\n}\n";
        }
        if (input == "show Setup:/Network/Service/" + primaryID + "\nquit\n") {
            return "<dictionary> {\n  IPv4 : <dictionary> {\n    ConfigMethod : DHCP\n  }\n  UserDefinedName : \t" +
                   primaryName + " \n}\n";
        }
        return "  No such key\n";
    }
};

class DNSOverrideTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orlune-dns-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        directory_ = pattern;
        runner_.setHandler([this](const ToolCall& call) { return mac_.answer(call); });
    }
    void TearDown() override { fs::remove_all(directory_); }

    fs::path recordPath() const { return directory_ / kDNSRecordName; }
    DNSRecord record() const {
        std::ifstream in(recordPath());
        return dnsRecordFromJson(std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()});
    }
    void writeRecord(const std::string& text) const { std::ofstream(recordPath()) << text; }
    // Calls that change a setting, in order.
    std::vector<std::vector<std::string>> changes() const {
        std::vector<std::vector<std::string>> result;
        for (const auto& call : runner_.calls) {
            if (!call.arguments.empty() && call.arguments[0] == "-setdnsservers") result.push_back(call.arguments);
        }
        return result;
    }
    static std::string failureOf(const std::function<void()>& action) {
        try {
            action();
        } catch (const ServiceFailure& failure) {
            return failure.errorDescription();
        } catch (const std::exception& error) {
            return error.what();
        }
        return "succeeded";
    }

    fs::path directory_;
    SimulatedMac mac_;
    FakeToolRunner runner_;
    MacOSDNSBackend backend_{runner_};
    std::optional<DNSOverride> override_;
    DNSOverride& dns() {
        if (!override_) override_.emplace(backend_, recordPath());
        return *override_;
    }
};

TEST_F(DNSOverrideTest, ServiceWithoutServersIsRestoredToEmpty) {
    dns().applyDNS();
    EXPECT_EQ(record(), (DNSRecord{"USB 10/100/1000 LAN", {}, {"1.1.1.1", "8.8.8.8"}}));
    EXPECT_EQ(fs::status(recordPath()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    // The service name with spaces and slashes stays one argument.
    EXPECT_EQ(changes(),
              (std::vector<std::vector<std::string>>{{"-setdnsservers", "USB 10/100/1000 LAN", "1.1.1.1", "8.8.8.8"}}));

    dns().restoreDNS();
    EXPECT_EQ(changes().back(), (std::vector<std::string>{"-setdnsservers", "USB 10/100/1000 LAN", "Empty"}));
    EXPECT_TRUE(mac_.services["USB 10/100/1000 LAN"].empty());
    EXPECT_FALSE(fs::exists(recordPath()));
}

TEST_F(DNSOverrideTest, TwoServersComeBackInTheirOrder) {
    mac_.services[mac_.primaryName] = {"192.168.1.53", "fd00::53"};
    dns().applyDNS();
    EXPECT_EQ(record().previous, (std::vector<std::string>{"192.168.1.53", "fd00::53"}));
    dns().restoreDNS();
    EXPECT_EQ(mac_.services[mac_.primaryName], (std::vector<std::string>{"192.168.1.53", "fd00::53"}));
    EXPECT_FALSE(fs::exists(recordPath()));
}

TEST_F(DNSOverrideTest, UserChangeWhileConnectedIsLeftAloneAndTheRecordRemoved) {
    dns().applyDNS();
    mac_.services[mac_.primaryName] = {"9.9.9.9"};
    const auto before = changes().size();
    dns().restoreDNS();
    EXPECT_EQ(changes().size(), before);
    EXPECT_EQ(mac_.services[mac_.primaryName], (std::vector<std::string>{"9.9.9.9"}));
    EXPECT_FALSE(fs::exists(recordPath()));
}

TEST_F(DNSOverrideTest, NoRecordMeansNoCommand) {
    dns().restoreDNS();
    EXPECT_TRUE(runner_.calls.empty());
}

TEST_F(DNSOverrideTest, UnreadableRecordFailsAndStays) {
    for (std::string text : {"not json", "{\"service\":\"Wi-Fi\",\"previous\":[]}",
                             "{\"service\":\"Wi-Fi\",\"previous\":\"1.1.1.1\",\"applied\":[]}",
                             "{\"service\":7,\"previous\":[],\"applied\":[]}", "[]", ""}) {
        writeRecord(text);
        EXPECT_THROW(dns().restoreDNS(), ServiceFailure) << text;
        EXPECT_TRUE(fs::exists(recordPath())) << text;
    }
    EXPECT_TRUE(runner_.calls.empty());
    // The keys may come in any order.
    writeRecord(R"({"applied":["1.1.1.1","8.8.8.8"],"previous":["192.168.1.1"],"service":"Wi-Fi"})");
    mac_.services["Wi-Fi"] = {"1.1.1.1", "8.8.8.8"};
    dns().restoreDNS();
    EXPECT_EQ(mac_.services["Wi-Fi"], (std::vector<std::string>{"192.168.1.1"}));
}

TEST_F(DNSOverrideTest, RecordOfAVanishedServiceIsRemoved) {
    dns().applyDNS();
    mac_.services.erase(mac_.primaryName);  // the adapter was unplugged and its service removed
    dns().restoreDNS();
    EXPECT_FALSE(fs::exists(recordPath()));
}

TEST_F(DNSOverrideTest, ToolFailuresDuringRestoreKeepTheRecord) {
    dns().applyDNS();
    // Reading fails for a service that still exists: a tool failure, not a vanished service.
    mac_.failing = {"-getdnsservers"};
    EXPECT_EQ(failureOf([&] { dns().restoreDNS(); }), kNetworkCommandFailed);
    EXPECT_TRUE(fs::exists(recordPath()));
    // The list of services cannot be read either: nothing proves the service is gone.
    mac_.services.erase(mac_.primaryName);
    mac_.failing = {"-getdnsservers", "-listallnetworkservices"};
    EXPECT_EQ(failureOf([&] { dns().restoreDNS(); }), kNetworkCommandFailed);
    EXPECT_TRUE(fs::exists(recordPath()));
    // Setting the servers back fails.
    mac_.services[mac_.primaryName] = {"1.1.1.1", "8.8.8.8"};
    mac_.failing = {"-setdnsservers"};
    EXPECT_EQ(failureOf([&] { dns().restoreDNS(); }), kNetworkCommandFailed);
    EXPECT_TRUE(fs::exists(recordPath()));
    mac_.failing.clear();
    dns().restoreDNS();
    EXPECT_FALSE(fs::exists(recordPath()));
}

TEST_F(DNSOverrideTest, SwitchStopsBeforeAnyChangeWhenThePrimaryServiceIsUnclear) {
    struct Case {
        std::string id;
        std::string name;
        std::string message;
    };
    const std::vector<Case> cases{
        {"8A3C1D2E;quit", "Wi-Fi", "The primary network service could not be identified."},
        {"G00D-1D2E", "Wi-Fi", "The primary network service could not be identified."},
        {"", "Wi-Fi", "The primary network service could not be identified."},
        {"ABCDEF-0123", "", "succeeded"},  // a name line that is present but empty is still a name
    };
    for (const auto& c : cases) {
        mac_.primaryID = c.id;
        mac_.primaryName = c.name;
        mac_.services[c.name] = {};
        runner_.calls.clear();
        EXPECT_EQ(failureOf([&] { dns().applyDNS(); }), c.message) << c.id;
        if (c.message != "succeeded") {
            EXPECT_EQ(runner_.calls.size(), 1u) << c.id;
            EXPECT_FALSE(fs::exists(recordPath()));
        }
        fs::remove(recordPath());
    }
}

TEST_F(DNSOverrideTest, MissingNameLineOrFailedScutilChangesNothing) {
    runner_.setHandler([this](const ToolCall& call) -> std::string {
        if (call.input && call.input->starts_with("show Setup:")) return "<dictionary> {\n  IPv4 : x\n}\n";
        return mac_.answer(call);
    });
    EXPECT_EQ(failureOf([&] { dns().applyDNS(); }), "The primary network name could not be identified.");
    runner_.setHandler([this](const ToolCall& call) { return mac_.answer(call); });
    mac_.failing = {"scutil"};
    EXPECT_EQ(failureOf([&] { dns().applyDNS(); }), kNetworkCommandFailed);
    EXPECT_TRUE(changes().empty());
    EXPECT_FALSE(fs::exists(recordPath()));
}

TEST_F(DNSOverrideTest, FailedSwitchKeepsTheRecordForTheNextRestore) {
    mac_.services[mac_.primaryName] = {"192.168.1.53"};
    mac_.failing = {"-setdnsservers"};
    EXPECT_EQ(failureOf([&] { dns().applyDNS(); }), kNetworkCommandFailed);
    ASSERT_TRUE(fs::exists(recordPath()));
    mac_.failing.clear();
    // The setting never changed, so the restore only removes the record.
    dns().restoreDNS();
    EXPECT_EQ(mac_.services[mac_.primaryName], (std::vector<std::string>{"192.168.1.53"}));
    EXPECT_FALSE(fs::exists(recordPath()));
}

TEST_F(DNSOverrideTest, HangingToolFailsAfterTheTimeLimit) {
    // The real runner with its real limits, with scutil standing in for a tool that never ends.
    SystemToolRunner real;
    FakeToolRunner hanging([&](const ToolCall&) { return real.run("/bin/sleep", {"30"}); });
    MacOSDNSBackend backend(hanging);
    DNSOverride dns(backend, recordPath());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(failureOf([&] { dns.applyDNS(); }), kNetworkCommandFailed);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::seconds(4));
    EXPECT_LT(elapsed, std::chrono::seconds(10));  // stopped, not waited out
    EXPECT_FALSE(fs::exists(recordPath()));
}

}  // namespace
}  // namespace orlune
