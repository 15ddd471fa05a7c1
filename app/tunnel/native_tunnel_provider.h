#pragma once

#include <QString>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "catalog/vpngate_provider.h"
#include "control/native_messages.h"
#include "control/native_paths.h"
#include "core/tunnel_connection_provider.h"
#include "tunnel/control_channel.h"
#include "tunnel/route_lookup.h"

namespace orlune {

// Monotonic time and the pause between two looks. The app uses the steady clock and a real timer;
// tests pass a clock that only the pauses move, so deadlines pass without waiting for them.
struct TunnelClock {
    std::function<std::chrono::steady_clock::time_point()> now;
    std::function<QCoro::Task<>(std::chrono::milliseconds)> sleep;

    static TunnelClock system();
};

// Waits and limits of the provider. Fixed in the app; tests shorten them.
struct TunnelTimings {
    std::chrono::milliseconds confirmationDeadline{30'000};
    std::chrono::milliseconds statusInterval{250};
    std::chrono::milliseconds restoreDeadline{15'000};
    std::chrono::milliseconds routeInterval{500};
    // The engine is usually ready within a few round trips to the relay: for the first
    // fastStatusPeriod the service is asked every fastStatusInterval, then every statusInterval.
    // A relay that does not answer fails only when the engine gives up (after its connect
    // timeout): statusInterval bounds how late that failure is noticed, and so how long the
    // next relay waits.
    std::chrono::milliseconds fastStatusInterval{50};
    std::chrono::milliseconds fastStatusPeriod{10'000};
};

// The app's client of the root service: starts, proves, inspects and stops the tunnel.
// One instance per model; every operation runs on the UI thread, only the blocking socket
// exchange runs on the control worker.
class NativeTunnelProvider : public TunnelConnectionProvider {
public:
    struct Dependencies {
        std::string socketPath = std::string(NativePaths::socket);
        std::unique_ptr<RouteLookup> routeLookup = makeRouteLookup();
        std::function<QCoro::Task<bool>()> internetReachable;  // defaults to the real check
        std::function<bool(const QString&)> interfaceExists;   // defaults to the system's list
        TunnelTimings timings;
        TunnelClock clock = TunnelClock::system();
        // Where profiles are downloaded from; shared with the catalog refresh. Null: the
        // endpoints' catalog alone, nothing kept.
        std::shared_ptr<CatalogAccess> catalogAccess;
    };

    NativeTunnelProvider();
    explicit NativeTunnelProvider(Dependencies dependencies);

    QCoro::Task<TunnelVerification> connect(Relay relay, std::optional<QString> originalIP, Progress progress) override;
    QCoro::Task<void> disconnect() override;
    QCoro::Task<void> recoverStaleConnections() override;
    QCoro::Task<bool> isTunnelActive() override;
    QCoro::Task<TunnelHealth> tunnelHealth() override;
    QCoro::Task<std::optional<QString>> engineVersion() override;

    void setLeakProtection(LeakProtection protection) override { protection_ = protection; }
    bool holdsBlock() const override { return blockHeld_; }
    void useKeptProfile(const QString& relayId, const QString& profile) override { keptProfile_ = {relayId, profile}; }

    const std::optional<QString>& activeInterface() const { return activeInterface_; }

private:
    QCoro::Task<NativeReply> request(NativeRequest request);
    bool serviceInstalled() const;
    NativeRequest stopRequest() const;
    QCoro::Task<ProfileFetch> profileFor(const Relay& relay);
    void checkAttempt(const QUuid& attempt) const;

    VPNGateProvider catalog_;
    ControlChannel rpc_;
    QUuid generation_ = QUuid::createUuid();
    std::optional<QString> activeInterface_;
    std::unique_ptr<RouteLookup> routeLookup_;
    std::function<QCoro::Task<bool>()> internetReachable_;
    std::function<bool(const QString&)> interfaceExists_;
    TunnelTimings timings_;
    TunnelClock clock_;
    LeakProtection protection_;
    // The service holds the traffic block for us: the network outside the tunnel is closed, so
    // profiles come from the catalog read before it closed.
    bool blockHeld_ = false;
    std::optional<QByteArray> heldCatalog_;
    std::optional<std::pair<QString, QString>> keptProfile_;  // relay id, profile
};

}  // namespace orlune
