#include "main/vpn_service.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include <gtest/gtest.h>

#include "control/native_wire.h"
#include "core/service_failure.h"
#include "dns/dns_backend.h"
#include "support/fake_processes.h"
#include "support/fd_count.h"

namespace orlune {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::FakeChild;
using testing::FakeClock;
using testing::FakeProcessControl;

constexpr const char* kOtherUser = "Another user owns the active VPN connection.";

struct FakeAuthorizer final : ClientAuthorizer {
    PeerIdentity peer(int) override {
        ++calls;
        if (fault) std::rethrow_exception(fault);
        if (refusal) throw ServiceFailure::rejected(*refusal);
        return identity;
    }
    PeerIdentity identity{1000, 700};
    std::optional<std::string> refusal;
    std::exception_ptr fault;
    int calls = 0;
};

struct FakeDNS final : DNSControl {
    void applyDNS() override {
        events.push_back("apply");
        if (applyFault) std::rethrow_exception(applyFault);
        if (applyFails) throw ServiceFailure::rejected("The primary network service could not be identified.");
    }
    void restoreDNS() override {
        events.push_back("restore");
        if (restoreFails) throw ServiceFailure::rejected("A network configuration command failed.");
    }
    std::optional<std::string> routeInterface() override { return route; }
    void tunnelUp(const std::string& interface) override { events.push_back("tunnel " + interface); }
    std::vector<std::string> events;
    std::exception_ptr applyFault;
    bool applyFails = false;
    bool restoreFails = false;
    std::optional<std::string> route = "eth0";
};

// Remembers every table it was asked to load, and whether one is loaded now.
struct FakeFirewall final : FirewallControl {
    void raise(const FirewallPolicy& policy) override {
        if (raiseFails) throw std::runtime_error("Traffic outside the VPN could not be blocked.");
        loaded = policy;
        raised.push_back(policy);
    }
    void lift() override { loaded.reset(); }
    std::optional<FirewallPolicy> loaded;
    std::vector<FirewallPolicy> raised;
    bool raiseFails = false;
};

std::string acceptOnly(std::string_view profile, std::string_view host) {
    if (profile == "unreadable") throw std::system_error(EACCES, std::generic_category(), "/etc/orlune/policy");
    if (profile != "good profile") throw ServiceFailure::rejected("The relay profile contains a forbidden directive.");
    return "client\nproto udp4\nremote " + std::string(host) + " 1194\n";
}

NativeRequest request(std::string operation) {
    return NativeRequest{std::move(operation), std::nullopt, std::nullopt};
}
NativeRequest connectRequest(std::string profile = "good profile") {
    return NativeRequest{"connect", std::move(profile), "198.51.100.11"};
}

class VPNServiceTest : public ::testing::Test {
protected:
    VPNServiceTest()
        : directory_(::testing::TempDir() + "vpnservice-" + std::to_string(::getpid())),
          service_(ServiceParts{authorizer_, dns_, processes_, clock_, acceptOnly, "2.6.14",
                                EnginePaths{"/usr/sbin/openvpn", directory_ + "/state"}, directory_ + "/run",
                                directory_ + "/run/control.sock", SupervisionTimings{}, &firewall_}) {
        fs::remove_all(directory_);
        fs::create_directories(directory_ + "/state");
        processes_.alive[700] = true;
        processes_.alive[701] = true;
        processes_.alive[900] = true;
    }
    ~VPNServiceTest() override { fs::remove_all(directory_); }

    NativeReply as(std::uint32_t uid, std::int32_t pid, const NativeRequest& r) {
        return service_.respond(r, PeerIdentity{uid, pid});
    }
    NativeReply owner(const NativeRequest& r) { return as(1000, 700, r); }
    FakeChild::State& engine() { return *processes_.children.back(); }
    std::string logPath() { return service_.supervisor().paths().log(); }
    void writeLog(const std::string& text) { std::ofstream(logPath(), std::ios::binary) << text; }

    // One exchange through handle(): `bytes` are what the client sends before it closes its end.
    NativeReply exchange(const std::string& bytes, bool keepOpen = false) {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        UniqueFd client(fds[0]);
        NativeWire::writeAll(client.get(), bytes);
        if (!keepOpen) ::shutdown(client.get(), SHUT_WR);
        service_.handle(UniqueFd(fds[1]));
        NativeReply reply = NativeWire::receive<NativeReply>(client.get());
        // Closed after one reply: the end of the stream, or a reset when the request was left unread.
        char byte;
        const ssize_t more = ::recv(client.get(), &byte, 1, 0);
        EXPECT_TRUE(more == 0 || (more < 0 && errno == ECONNRESET)) << more;
        return reply;
    }
    static std::string frame(const std::string& body) {
        const auto n = static_cast<std::uint32_t>(body.size());
        return std::string{static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                           static_cast<char>(n)} +
               body;
    }

    std::string directory_;
    FakeAuthorizer authorizer_;
    FakeDNS dns_;
    FakeFirewall firewall_;
    FakeClock clock_;
    FakeProcessControl processes_;
    VPNService service_;
};

TEST_F(VPNServiceTest, BadFramesAndRequestsGetOneFailureReplyEach) {
    const std::string invalid = "The local VPN service returned an invalid or incomplete response.";
    const struct {
        const char* name;
        std::string bytes;
        std::string message;  // empty: only checked to be a failure
    } cases[] = {
        {"length 0", std::string("\0\0\0\0", 4), invalid},
        {"length over the limit", std::string("\0\x04\0\x01", 4) + "{}", invalid},
        {"short prefix", std::string("\0\0", 2), invalid},
        {"short body", std::string("\0\0\0\x20", 4) + "{\"operation\"", invalid},
        {"nothing at all", "", invalid},
        {"garbage JSON", frame("{operation: status"), ""},
        {"no operation", frame(R"({"profile":"x"})"), ""},
        {"wrong case", frame(R"({"operation":"Status"})"), kUnsupportedOperation},
        {"unknown operation", frame(R"({"operation":"shutdown"})"), kUnsupportedOperation},
    };
    for (const auto& c : cases) {
        NativeReply reply = exchange(c.bytes);
        EXPECT_FALSE(reply.ok) << c.name;
        EXPECT_EQ(reply.state, "failed") << c.name;
        EXPECT_FALSE(reply.message.empty()) << c.name;
        if (!c.message.empty()) {
            EXPECT_EQ(reply.message, c.message) << c.name;
        }
        EXPECT_EQ(reply.engineVersion, "2.6.14") << c.name;
        EXPECT_FALSE(reply.interface || reply.ownerPID) << c.name;
    }
    const NativeReply fresh = exchange(frame(R"({"operation":"status"})"));
    EXPECT_EQ(fresh.state, "stopped");
    EXPECT_FALSE(fresh.stopRequested) << "a service that never stopped an engine on request";
}

TEST_F(VPNServiceTest, FailuresReachTheClientAsOneOfTheServiceSentencesOnly) {
    const std::vector<std::string> sentences{kStateFileFailed,  kEngineStartFailed,      kDNSSettingsFailed,
                                             kMalformedRequest, kServiceInternalFailure, kUnauthorizedClient};
    const auto systemFault = [](const char* sentence) {
        return std::make_exception_ptr(ServiceFailure::system(sentence, EACCES, "Could not write /var/lib/x"));
    };
    const struct {
        const char* name;
        std::function<void()> arrange;
        std::string bytes;
    } cases[] = {
        {"authorization with a detail", [&] { authorizer_.fault = systemFault(kUnauthorizedClient); },
         frame(R"({"operation":"status"})")},
        {"authorization with a stray error",
         [&] { authorizer_.fault = std::make_exception_ptr(std::runtime_error("/proc/700/exe: Permission denied")); },
         frame(R"({"operation":"status"})")},
        {"an undecodable request", [] {}, frame(R"({"operation":7})")},
        {"a policy's stray error", [] {},
         frame(R"({"operation":"connect","profile":"unreadable","expectedHost":"h"})")},
        {"the state directory", [&] { fs::remove_all(directory_ + "/state"); },
         frame(R"({"operation":"connect","profile":"good profile","expectedHost":"h"})")},
        {"the engine's launch", [&] { processes_.launchError = true; },
         frame(R"({"operation":"connect","profile":"good profile","expectedHost":"h"})")},
        {"the DNS switch", [&] { dns_.applyFault = systemFault(kDNSSettingsFailed); },
         frame(R"({"operation":"connect","profile":"good profile","expectedHost":"h"})")},
    };
    for (const auto& c : cases) {
        c.arrange();
        const NativeReply reply = exchange(c.bytes);
        EXPECT_FALSE(reply.ok) << c.name;
        EXPECT_NE(std::find(sentences.begin(), sentences.end(), reply.message), sentences.end())
            << c.name << ": " << reply.message;
        authorizer_.fault = nullptr;
        dns_.applyFault = nullptr;
        processes_.launchError = false;
        fs::create_directories(directory_ + "/state");
    }
}

TEST_F(VPNServiceTest, HandleLeavesNoDescriptorBehind) {
    const auto before = testing::openDescriptors();
    exchange(frame(R"({"operation":"status"})"));
    exchange(std::string("\0\0\0\0", 4));
    authorizer_.refusal = "Unauthorized local client.";
    exchange(frame(R"({"operation":"status"})"));
    EXPECT_EQ(testing::openDescriptors(), before);
}

TEST_F(VPNServiceTest, ARefusedClientThatWritesLateStillReadsItsRefusal) {
    authorizer_.refusal = "Unauthorized local client.";
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    UniqueFd client(fds[0]);
    // The service refuses before reading anything, so it has answered and closed its end before
    // the request is written.
    service_.handle(UniqueFd(fds[1]));
    EXPECT_EQ(NativeWire::exchange(client.get(), request("status")).message, "Unauthorized local client.");
}

TEST_F(VPNServiceTest, ARefusedClientChangesNothing) {
    ASSERT_EQ(owner(connectRequest()).state, "connecting");
    clock_.advance(80s);
    authorizer_.refusal = "The local client signature is invalid.";
    for (const char* body : {R"({"operation":"disconnect"})", R"({"operation":"status"})"}) {
        NativeReply reply = exchange(frame(body));
        EXPECT_EQ(reply.message, "The local client signature is invalid.");
        EXPECT_EQ(reply.state, "failed");
    }
    EXPECT_TRUE(engine().running);
    // Not even the heartbeat moved: the refused client came from the owner's process id.
    clock_.advance(11s);
    service_.tick();
    EXPECT_FALSE(engine().running);
}

TEST_F(VPNServiceTest, AnotherUserIsRefusedUntilTheEngineStops) {
    ASSERT_EQ(owner(connectRequest()).ownerPID, 700);
    for (const char* operation : {"status", "disconnect", "connect", "bogus"}) {
        NativeReply reply = as(1001, 900, request(operation));
        EXPECT_EQ(reply.message, kOtherUser) << operation;
        EXPECT_FALSE(reply.ok);
    }
    EXPECT_TRUE(engine().running);
    EXPECT_EQ(owner(request("disconnect")).state, "stopped");
    NativeReply reply = as(1001, 900, connectRequest());
    EXPECT_EQ(reply.state, "connecting");
    EXPECT_EQ(reply.ownerPID, 900);
}

TEST_F(VPNServiceTest, OnlyTheOwnerProcessRefreshesTheHeartbeat) {
    ASSERT_EQ(owner(connectRequest()).state, "connecting");
    clock_.advance(60s);
    EXPECT_EQ(owner(request("Status")).message, kUnsupportedOperation) << "even an unsupported request counts";
    clock_.advance(60s);
    service_.tick();
    EXPECT_TRUE(engine().running);

    // Another process of the same user is answered but keeps nothing alive.
    clock_.advance(60s);
    EXPECT_EQ(as(1000, 701, request("status")).ownerPID, 700);
    clock_.advance(31s);
    service_.tick();
    EXPECT_FALSE(engine().running);
    EXPECT_EQ(as(1000, 701, request("status")).state, "stopped");
}

// Time the service did not run (frozen, stopped) is no silence of the owner or the block's
// holder; silence before the pause and after it still counts as usual.
TEST_F(VPNServiceTest, APauseOfTheServiceRestartsTheSilenceCount) {
    const struct {
        const char* name;
        std::chrono::seconds before, pause;
        bool noticed;
        std::chrono::seconds after;
        bool keeps;
    } cases[] = {
        {"a pause longer than the limit", 80s, 300s, true, 85s, true},
        {"the same pause unnoticed", 80s, 300s, false, 0s, false},
        {"silence after the pause", 80s, 300s, true, 91s, false},
        {"a pause at the very limit", 90s, 60s, true, 90s, true},
    };
    for (const auto& c : cases) {
        NativeRequest blocked = connectRequest();
        blocked.blockTraffic = true;
        ASSERT_EQ(owner(blocked).state, "connecting") << c.name;
        clock_.advance(c.before);
        service_.tick();
        clock_.advance(c.pause);
        if (c.noticed) service_.resumeAfterPause();
        clock_.advance(c.after);
        service_.tick();
        EXPECT_EQ(engine().running, c.keeps) << c.name;
        EXPECT_EQ(firewall_.loaded.has_value(), c.keeps) << c.name;
        owner(request("disconnect"));
    }
}

TEST_F(VPNServiceTest, ConnectStopsTheEarlierEngineAndStartsTheHardenedOne) {
    ASSERT_EQ(owner(connectRequest()).state, "connecting");
    NativeReply reply = as(1000, 701, connectRequest());
    EXPECT_EQ(reply.ownerPID, 701);
    ASSERT_EQ(processes_.children.size(), 2u);
    EXPECT_FALSE(processes_.children[0]->running);
    EXPECT_EQ(dns_.events, (std::vector<std::string>{"restore", "apply", "restore", "apply"}));

    const LaunchRequest& launch = processes_.launches.back();
    const std::string configuration = directory_ + "/state/session.ovpn";
    EXPECT_EQ(launch.executable, "/usr/sbin/openvpn");
    EXPECT_EQ(launch.arguments, (std::vector<std::string>{"--config", configuration}))
        << "a 2.6 engine gets no DNS hook";
    EXPECT_EQ(launch.environment.size(), 3u);
    std::ifstream file(configuration);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "client\nproto udp4\nremote 198.51.100.11 1194\n");
    EXPECT_EQ(service_.supervisor().ownerPID(), 701);
}

TEST_F(VPNServiceTest, ARefusedProfileLeavesTheRunningTunnelAlone) {
    ASSERT_EQ(owner(connectRequest()).state, "connecting");
    const struct {
        NativeRequest request;
        const char* message;
    } cases[] = {
        {connectRequest("up /tmp/evil.sh"), "The relay profile contains a forbidden directive."},
        {NativeRequest{"connect", std::nullopt, "198.51.100.11"}, kProfileMissing},
        {NativeRequest{"connect", "good profile", std::nullopt}, kProfileMissing},
        {NativeRequest{"connect", "", ""}, "The relay profile contains a forbidden directive."},
    };
    for (const auto& c : cases) {
        NativeReply reply = as(1000, 701, c.request);
        EXPECT_EQ(reply.message, c.message);
        EXPECT_FALSE(reply.ok);
    }
    EXPECT_EQ(processes_.children.size(), 1u);
    EXPECT_TRUE(engine().running);
    EXPECT_EQ(service_.supervisor().ownerPID(), 700);
}

TEST_F(VPNServiceTest, AConnectThatFailsLateUndoesEverything) {
    dns_.applyFails = true;
    NativeReply reply = owner(connectRequest());
    EXPECT_EQ(reply.message, "The primary network service could not be identified.");
    EXPECT_TRUE(processes_.launches.empty());
    EXPECT_FALSE(service_.supervisor().ownerUID());
    EXPECT_EQ(dns_.events.back(), "restore");

    dns_.applyFails = false;
    processes_.launchError = true;
    reply = owner(connectRequest());
    EXPECT_EQ(reply.state, "failed");
    EXPECT_EQ(reply.message, kEngineStartFailed) << "the path and the system's error go to the log only";
    EXPECT_FALSE(service_.supervisor().ownerUID());
    EXPECT_FALSE(fs::exists(directory_ + "/state/session.ovpn"));
    EXPECT_EQ(owner(request("status")).state, "stopped");
}

TEST_F(VPNServiceTest, StatusFollowsTheLogAndTheRoute) {
    ASSERT_EQ(owner(connectRequest()).state, "connecting");
    NativeReply reply = owner(request("status"));
    EXPECT_EQ(reply.state, "connecting");
    EXPECT_EQ(reply.message, kStatusWaiting);
    EXPECT_EQ(reply.ownerPID, 700);

    writeLog("TUN/TAP device tun0 opened\nInitialization Sequence Completed\n");
    EXPECT_EQ(owner(request("status")).state, "connecting") << "the route still leaves through eth0";
    dns_.route = "tun0";
    reply = owner(request("status"));
    EXPECT_EQ(reply.state, "connected");
    EXPECT_EQ(reply.interface, "tun0");
    // A DNS switch that waits for the tunnel's own link learns it before connected is reported.
    EXPECT_EQ(dns_.events.back(), "tunnel tun0");
    EXPECT_EQ(reply.ownerPID, 700);
    EXPECT_TRUE(reply.message.empty());

    dns_.route = "tun1";
    EXPECT_EQ(owner(request("status")).state, "connecting") << "a route through another tunnel";
    dns_.route = "tun0";

    writeLog("TUN/TAP device tun0 opened\nInitialization Sequence Completed\nTLS Error: TLS handshake failed\n");
    reply = owner(request("status"));
    EXPECT_EQ(reply.message, kStatusVerificationFailed);
    EXPECT_FALSE(reply.ok);
    writeLog("VERIFY ERROR: depth=0\nAUTH: Received control message: AUTH_FAILED\nInitialization Sequence Completed\n");
    reply = owner(request("status"));
    EXPECT_EQ(reply.message, kStatusAuthenticationFailed);
    EXPECT_FALSE(reply.ok);
    EXPECT_TRUE(engine().running) << "status never stops the engine";
}

TEST_F(VPNServiceTest, AnEngineThatDiesIsReportedUntilTheNextDisconnect) {
    ASSERT_EQ(owner(connectRequest()).state, "connecting");
    writeLog("Initialization Sequence Completed\nAUTH: Received control message: AUTH_FAILED\n");
    engine().running = false;
    service_.tick();
    NativeReply reply = as(1001, 900, request("status"));
    EXPECT_TRUE(reply.ok) << "the owner is cleared with the engine";
    EXPECT_EQ(reply.state, "failed");
    EXPECT_EQ(reply.message, kEngineAuthenticationFailed);
    EXPECT_EQ(owner(request("disconnect")).state, "stopped");
    // Stopped by a client's request, and said so until the next connect; an engine that failed
    // (above) or a fresh service never says it.
    EXPECT_FALSE(reply.stopRequested);
    EXPECT_TRUE(owner(request("status")).stopRequested);
    ASSERT_EQ(owner(connectRequest()).state, "connecting");
    engine().running = false;
    service_.tick();
    EXPECT_FALSE(owner(request("status")).stopRequested);
}

TEST_F(VPNServiceTest, ADisconnectWhoseRestoreFailsKeepsTheOwner) {
    ASSERT_EQ(owner(connectRequest()).state, "connecting");
    dns_.restoreFails = true;
    engine().running = false;
    service_.tick();
    ASSERT_EQ(service_.supervisor().lastFailure(), kEngineStopNeedsAttention);
    NativeReply reply = owner(request("disconnect"));
    EXPECT_EQ(reply.message, "A network configuration command failed.");
    EXPECT_EQ(service_.supervisor().ownerUID(), 1000u);
    EXPECT_EQ(service_.supervisor().lastFailure(), kEngineStopNeedsAttention);
    EXPECT_EQ(as(1001, 900, request("status")).message, kOtherUser);
    dns_.restoreFails = false;
    EXPECT_EQ(owner(request("disconnect")).state, "stopped");
    EXPECT_EQ(as(1001, 900, request("status")).state, "stopped");
}

TEST_F(VPNServiceTest, ServeListensServesAndCleansUpOnExit) {
    std::atomic<bool> shouldExit{false};
    std::thread loop([&] { service_.serve(shouldExit); });
    const std::string socket = directory_ + "/run/control.sock";
    for (int i = 0; i < 400 && !fs::exists(socket); ++i) std::this_thread::sleep_for(5ms);
    NativeReply reply = NativeWire::request(request("status"), socket);
    EXPECT_EQ(reply.state, "stopped");
    EXPECT_EQ(reply.engineVersion, "2.6.14");
    struct stat info {};
    ASSERT_EQ(::stat(socket.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666u);
    ASSERT_EQ(::stat((directory_ + "/run").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0755u);
    shouldExit = true;
    loop.join();
    EXPECT_FALSE(fs::exists(socket));
    EXPECT_EQ(dns_.events, (std::vector<std::string>{"restore", "restore"})) << "recovery, then shutdown";
}

}  // namespace
}  // namespace orlune

namespace orlune {
namespace {

TEST_F(VPNServiceTest, TheBlockHoldsFromConnectUntilDisconnectOrTheHoldersEnd) {
    NativeRequest blocked = connectRequest();
    blocked.blockTraffic = true;
    blocked.allowLocalNetwork = false;
    blocked.blockIPv6 = true;
    NativeReply reply = owner(blocked);
    ASSERT_EQ(reply.state, "connecting");
    EXPECT_TRUE(reply.blockingTraffic && reply.blockingIPv6);
    ASSERT_TRUE(firewall_.loaded);
    EXPECT_EQ(firewall_.loaded->relay, (RelayEndpoint{"198.51.100.11", "udp", 1194}));
    EXPECT_FALSE(firewall_.loaded->allowLocalNetwork);

    // The tunnel is let through once it carries the route, once.
    writeLog("TUN/TAP device tun0 opened\nInitialization Sequence Completed\n");
    dns_.route = "tun0";
    EXPECT_EQ(owner(request("status")).state, "connected");
    EXPECT_EQ(owner(request("status")).state, "connected");
    EXPECT_EQ(firewall_.loaded->tunnel, "tun0");
    EXPECT_EQ(firewall_.raised.size(), 2u);

    // A lost engine, and the stop between two relays, keep it with neither relay nor tunnel.
    engine().running = false;
    service_.tick();
    EXPECT_TRUE(owner(request("status")).blockingTraffic);
    NativeRequest between = request("disconnect");
    between.keepBlocking = true;
    EXPECT_TRUE(owner(between).blockingTraffic);
    EXPECT_FALSE(firewall_.loaded->relay || firewall_.loaded->tunnel);
    EXPECT_FALSE(as(1001, 900, request("disconnect")).ok) << "another user cannot lift it";

    // A failed reload starts nothing and keeps the block; a plain disconnect lifts it.
    firewall_.raiseFails = true;
    EXPECT_FALSE(owner(blocked).ok);
    EXPECT_EQ(processes_.children.size(), 1u);
    EXPECT_TRUE(firewall_.loaded);
    firewall_.raiseFails = false;
    reply = owner(request("disconnect"));
    EXPECT_FALSE(reply.blockingTraffic || firewall_.loaded);

    // A connect without the settings behaves as before; the holder's end lifts it.
    ASSERT_TRUE(owner(blocked).ok);
    EXPECT_FALSE(owner(connectRequest()).blockingTraffic || firewall_.loaded);
    ASSERT_TRUE(owner(blocked).ok);
    processes_.alive.erase(700);
    service_.tick();
    EXPECT_FALSE(firewall_.loaded);
    EXPECT_FALSE(engine().running);
}

}  // namespace
}  // namespace orlune
