#pragma once

#include <QString>

#include <qcoro/qcorotask.h>

#include <functional>
#include <optional>

#include "core/relay.h"
#include "core/tunnel_verification.h"

namespace orlune {

// What became of the tunnel this provider started.
enum class TunnelHealth {
    active,
    lost,              // gone without anybody asking, or the service does not answer
    stoppedOnRequest,  // stopped by a request, from this process or another one
};

// What the user asked the service to block while a connection is wanted.
struct LeakProtection {
    // From the first connect until the user stops: nothing outside the tunnel but the relay
    // being tried, DHCP and (when allowed) the local network.
    bool blockTraffic = false;
    bool allowLocalNetwork = true;
    // No IPv6 beyond link-local while a tunnel is up (and while traffic is blocked).
    bool blockIPv6 = false;

    bool any() const { return blockTraffic || blockIPv6; }
    friend bool operator==(const LeakProtection&, const LeakProtection&) = default;
};

// What the model needs from a tunnel backend. All operations run on the UI thread and
// resume there; none blocks it.
class TunnelConnectionProvider {
public:
    using Progress = std::function<void(const QString&)>;

    virtual ~TunnelConnectionProvider() = default;

    // Starts a tunnel to `relay` and proves it: tunnel interface, changed public address,
    // matching exit country. `originalIP` is the address read before connecting. Throws
    // TunnelError, CancellationError when superseded, or a transport error. Does not stop
    // the engine on failure: the caller disconnects.
    virtual QCoro::Task<TunnelVerification> connect(Relay relay, std::optional<QString> originalIP,
                                                    Progress progress) = 0;
    // Stops the tunnel; returns only once the route is physical again and the Internet answers.
    virtual QCoro::Task<void> disconnect() = 0;
    // Stops a tunnel an earlier run left behind, when the service is installed.
    virtual QCoro::Task<void> recoverStaleConnections() = 0;
    // Whether the tunnel this provider started is still up. Never throws.
    virtual QCoro::Task<bool> isTunnelActive() = 0;
    // The same question, telling a loss from a stop asked for elsewhere. Never throws.
    virtual QCoro::Task<TunnelHealth> tunnelHealth() {
        co_return co_await isTunnelActive() ? TunnelHealth::active : TunnelHealth::lost;
    }
    // The OpenVPN version the service runs, or nothing when the service does not answer.
    // Never throws.
    virtual QCoro::Task<std::optional<QString>> engineVersion() { co_return std::nullopt; }
    // The block the next connect asks for. With `blockTraffic`, every stop but the user's keeps
    // the block in place; clearing it first makes the next stop lift it.
    virtual void setLeakProtection(LeakProtection protection) { (void)protection; }
    // Whether the service holds the block on traffic outside the VPN for this app right now.
    virtual bool holdsBlock() const { return false; }
    // The profile the next connect to `relayId` runs with instead of one from the catalog: the
    // one a relay that has left the list was verified with. Any connect uses it up.
    virtual void useKeptProfile(const QString& relayId, const QString& profile) {
        (void)relayId;
        (void)profile;
    }
};

}  // namespace orlune
