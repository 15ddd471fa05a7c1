#pragma once

#include <poll.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "auth/client_authorizer.h"
#include "control/native_messages.h"
#include "control/unique_fd.h"
#include "engine/engine_supervisor.h"
#include "engine/transport_observation.h"
#include "firewall/firewall_block.h"

namespace orlune {

inline constexpr const char* kUnsupportedOperation = "Unsupported local VPN operation.";
inline constexpr const char* kProfileMissing = "The relay profile is missing.";
inline constexpr const char* kStatusAuthenticationFailed =
    "The relay rejected VPN authentication (AUTH_FAILED). Choose another live relay.";
inline constexpr const char* kStatusVerificationFailed = "The relay failed TLS certificate or handshake verification.";
inline constexpr const char* kStatusWaiting =
    "Waiting for the selected relay to finish the VPN handshake and install its route.";

// The DNS switch as the service uses it.
class DNSControl {
public:
    virtual ~DNSControl() = default;
    // Records the current servers, then points the primary network at the tunnel's resolvers.
    virtual void applyDNS() = 0;
    // Undoes a recorded switch, if any; throws and keeps the record when that fails.
    virtual void restoreDNS() = 0;
    // The interface carrying the whole IPv4 default route, or none when it cannot be learned or is
    // split; never throws.
    virtual std::optional<std::string> routeInterface() = 0;
    // The engine's tunnel `interface` carries the route: a switch that waits for the tunnel's own
    // link takes place now (once per switch). Throws, keeping the record, when that fails.
    virtual void tunnelUp(const std::string& interface) { (void)interface; }
};

// Everything the service is made of. The executable passes the real pieces and fixed paths;
// tests pass fakes and directories of their own.
struct ServiceParts {
    ClientAuthorizer& authorizer;
    DNSControl& dns;
    ProcessControl& processes;
    Clock& clock;
    // Checks a relay's profile and builds the configuration the engine runs; throws the refusal.
    std::function<std::string(std::string_view profile, std::string_view expectedHost)> configuration;
    // The engine version read once at start, reported in every reply and deciding its options.
    std::string engineVersion;
    EnginePaths engine;
    std::string socketDirectory;
    std::string socketPath;
    SupervisionTimings timings = {};
    // The traffic block; without one, requests that ask for it are refused.
    FirewallControl* firewall = nullptr;
};

// The root service: one loop that supervises the engine and reads requests from many connections
// at once without waiting on any of them; each request is served to completion when it has
// arrived whole, and refused clients are answered and closed at once.
class VPNService final : private EngineHost {
public:
    explicit VPNService(ServiceParts parts);
    ~VPNService() override;

    // Start-up recovery, the control socket, the loop until `shouldExit`, and a clean shutdown
    // that stops the engine and restores DNS. Throws when start-up fails.
    void serve(const std::atomic<bool>& shouldExit);
    // Serves one accepted, blocking connection: authorization before the request is read and
    // again after it, exactly one reply, and the descriptor closed on every path. Never throws.
    void handle(UniqueFd connection);
    // The reply to an authorized request: ownership, heartbeat and the operation.
    NativeReply respond(const NativeRequest& request, const PeerIdentity& peer);

    void tick() {
        supervisor_.tick();
        superviseBlock();
    }
    void stop() { supervisor_.stop(); }
    // The loop woke long after it was due: the service was frozen or stopped. Neither the owner
    // nor the block's holder could be heard meanwhile, so their silence counts afresh from now.
    void resumeAfterPause();
    EngineSupervisor& supervisor() { return supervisor_; }
    const TransportObservation& observation() const { return observation_; }

private:
    struct Client;
    void acceptClients(int listener);
    void serveClients(const std::vector<pollfd>& waiting);
    void readClient(Client& client);
    void finishClient(std::size_t index);
    void refuseNow(int fd, std::string reason);
    void verifyAgain(int fd, const PeerIdentity& peer);

    NativeReply status();
    NativeReply disconnect(const NativeRequest& request);
    NativeReply connect(const NativeRequest& request, const PeerIdentity& peer);
    NativeReply reply(bool ok, std::string_view state, std::string message = {}) const;
    void stopQuietly() noexcept;

    // The traffic block and its holder, the client that asked for it.
    struct Block {
        std::uint32_t uid = 0;
        std::int32_t pid = 0;
        UniqueFd watch;
        Clock::TimePoint heartbeat;
        FirewallPolicy policy;
    };
    void raiseBlock(const NativeRequest& request, const std::string& configuration, const PeerIdentity& peer);
    void blockTunnel(const std::string& interface);
    void liftBlock();
    void liftBlockQuietly() noexcept;
    // Lifts the block when its holder has ended or gone silent for the heartbeat limit.
    void superviseBlock() noexcept;
    bool holderAlive();
    NativeReply withBlock(NativeReply result) const;

    void restoreDNS() override;
    void engineStopped() override;

    ServiceParts parts_;
    TransportObservation observation_;
    // The engine is down because a client's disconnect stopped it (until the next connect).
    bool stoppedOnRequest_ = false;
    EngineSupervisor supervisor_;
    std::optional<Block> block_;
    std::vector<std::unique_ptr<Client>> clients_;
};

}  // namespace orlune
