// Stopping the tunnel, and watching the network: a lost tunnel is stopped and rebuilt when the
// network returns.

#include <memory>
#include <optional>

#include "model/app_model.h"
#include "model/detached_task.h"
#include "model/model_messages.h"

namespace orlune {
namespace {

using model_detail::describe;

using namespace std::chrono_literals;

constexpr auto kUnsettledPathDelay = 1500ms;
constexpr auto kSecondChanceDelay = 3000ms;

const QString kHealthCheckFailed = QStringLiteral(
    "The VPN health check failed while Wi-Fi/Ethernet remains up. Orlune VPN is stopping the tunnel safely.");
const QString kLostWhileBlocking =
    QStringLiteral("The VPN tunnel was lost. Traffic outside the VPN stays blocked until you disconnect.");
const QString kPhysicalLinkLost = QStringLiteral(
    "No Internet Connection: the physical network interface went down. Orlune VPN is stopping the tunnel safely.");

}  // namespace

QCoro::Task<> AppModel::disconnect() {
    // The newest action wins: a pending reconnection or a running attempt ends here.
    userStopAction_ = beginAttempt();
    connectionAttemptID_.reset();
    // One stop is enough, unless a tunnel was asked for after the running one began.
    if (userStopsRunning_ > 0 && tunnelOwner_ == ownerAtStop_) co_return;
    ownerAtStop_ = tunnelOwner_;
    ++userStopsRunning_;
    // The user's stop is the one that lifts the block.
    tunnelProvider_->setLeakProtection({});
    setStoppingTunnel(true);
    std::exception_ptr error;
    try {
        co_await tunnelProvider_->disconnect();
    } catch (...) {
        error = std::current_exception();
    }
    if (--userStopsRunning_ > 0) co_return;  // the later stop reports
    if (nextAttempt_ != userStopAction_) {
        // A newer connect owns the state now.
        setStoppingTunnel(false);
        co_return;
    }
    if (error) {
        setConnectionState(ConnectionState::failed(
            "Could not stop the Orlune VPN tunnel and restore normal internet routing: " + describe(error)));
        setStoppingTunnel(false);
        co_return;
    }
    setConnectionState(ConnectionState::disconnected());
    co_await refreshPublicIP();
    setStoppingTunnel(false);
}

QCoro::Task<std::optional<QString>> AppModel::serviceEngineVersion() {
    std::optional<QString> version = co_await tunnelProvider_->engineVersion();
    co_return version;
}

QCoro::Task<> AppModel::refreshPublicIP() {
    std::optional<QString> address;
    try {
        address = co_await network_->publicIP();
    } catch (...) {
    }
    setPublicIP(address);
}

void AppModel::handleNetworkPath(NetworkPathStatus status) {
    // A newer report replaces the pending probe: the older one changes nothing after its wait.
    const quint64 probe = ++probeGeneration_;
    detach(probeNetwork(status, probe));
}

QCoro::Task<> AppModel::probeNetwork(NetworkPathStatus status, quint64 probe) {
    if (status != NetworkPathStatus::satisfied) co_await clock_->sleep(kUnsettledPathDelay);
    if (!probeIsValid(probe)) co_return;
    if (tunnelProvider_->holdsBlock() && !connectionState_.isConnected()) {
        // Nothing outside the tunnel answers while the block holds: a working link is all that
        // can be known. Asking the service also keeps the block's holder alive there.
        (void)co_await tunnelProvider_->tunnelHealth();
        if (!probeIsValid(probe)) co_return;
        co_await applyInternetStatus(network_->isPhysicalNetworkInterfaceUp());
        co_return;
    }
    bool reachable = co_await network_->isInternetReachable();
    if (!reachable && network_->isPhysicalNetworkInterfaceUp()) {
        co_await clock_->sleep(kSecondChanceDelay);
        if (!probeIsValid(probe)) co_return;
        reachable = co_await network_->isInternetReachable();
    }
    if (connectionState_.isConnected()) {
        const TunnelHealth health = co_await tunnelProvider_->tunnelHealth();
        if (probe != probeGeneration_ || isConnectionBusy() || !connectionState_.isConnected()) co_return;
        // A stop asked for elsewhere (the command line) is the user's stop, not a loss,
        // whatever the network does.
        if (health == TunnelHealth::stoppedOnRequest) {
            co_await adoptStopAskedElsewhere();
            co_return;
        }
        // A dead tunnel on a working network is handled as a loss.
        if (reachable) {
            co_await applyInternetStatus(health == TunnelHealth::active);
            co_return;
        }
    }
    if (!probeIsValid(probe)) co_return;
    co_await applyInternetStatus(reachable);
}

QCoro::Task<> AppModel::adoptStopAskedElsewhere() {
    beginAttempt();
    connectionAttemptID_.reset();
    setConnectionState(ConnectionState::disconnected());
    co_await refreshPublicIP();
}

void AppModel::handleWake() {
    // The next regular check comes a whole period after this one.
    if (healthTimer_.isActive()) healthTimer_.start();
    if (isConnectionBusy()) return;
    if (connectionState_.isConnected() || reconnectWhenNetworkReturns_ || tunnelProvider_->holdsBlock()) {
        detach(probeAfterWake(++probeGeneration_));
    }
}

QCoro::Task<> AppModel::probeAfterWake(quint64 probe) {
    if (!connectionState_.isConnected()) {
        // A pending reconnection is tried at once rather than at the next health tick.
        co_await probeNetwork(NetworkPathStatus::satisfied, probe);
        co_return;
    }
    // The relay may have dropped the session while the computer slept, and the engine notices
    // only at its own time-out: the tunnel is believed again only when the service still holds
    // it and the Internet answers through it, within a second and a half.
    auto answered = std::make_shared<std::optional<bool>>();
    detach([](NetworkChecks* network, std::shared_ptr<std::optional<bool>> answer) -> QCoro::Task<> {
        *answer = co_await network->anyCheckAnswers();
    }(network_.get(), answered));
    for (int check = 1;; ++check) {
        const TunnelHealth health = co_await tunnelProvider_->tunnelHealth();
        if (probe != probeGeneration_ || isConnectionBusy() || !connectionState_.isConnected()) co_return;
        if (health == TunnelHealth::stoppedOnRequest) {
            co_await adoptStopAskedElsewhere();
            co_return;
        }
        const bool alive = health == TunnelHealth::active;
        if (alive && answered->value_or(false)) co_return;
        if (!alive || answered->has_value() || check == kWakeProofChecks) break;
        co_await clock_->sleep(kWakeProofInterval);
    }
    co_await applyInternetStatus(false);
    // Once the lost tunnel is stopped, the network is usually there: the reconnection need not
    // wait for the next health tick.
    if (reconnectWhenNetworkReturns_ && !isConnectionBusy()) {
        handleNetworkPath(NetworkPathStatus::satisfied);
    }
}

QCoro::Task<> AppModel::applyInternetStatus(bool reachable) {
    const bool physical = network_->isPhysicalNetworkInterfaceUp();
    setOffline(!physical);
    if (reachable) {
        if (reconnectWhenNetworkReturns_ && !isStoppingTunnel_) {
            reconnectWhenNetworkReturns_ = false;
            co_await reconnectAfterLoss();
        }
        co_return;
    }
    if (!connectionState_.isConnected()) co_return;
    const quint64 action = nextAttempt_;
    reconnectWhenNetworkReturns_ = true;
    setConnectionState(ConnectionState::failed(physical ? kHealthCheckFailed : kPhysicalLinkLost));
    setStoppingTunnel(true);
    co_await stopAfterLoss(action);
}

QCoro::Task<> AppModel::stopAfterLoss(quint64 action) {
    try {
        co_await tunnelProvider_->disconnect();
    } catch (...) {
        // The loss text gives way to the reason the stop is unconfirmed, unless the user acted since.
        if (nextAttempt_ == action) {
            setConnectionState(ConnectionState::failed("Network interrupted and tunnel stop was not confirmed: " +
                                                       describe(std::current_exception())));
        }
    }
    if (userStopsRunning_ == 0) setStoppingTunnel(false);
}

QCoro::Task<> AppModel::reconnectAfterLoss() {
    // The reconnection is an attempt of its own: any user action during its reset replaces it.
    const quint64 attempt = beginAttempt();
    std::exception_ptr error;
    try {
        co_await tunnelProvider_->disconnect();
    } catch (...) {
        error = std::current_exception();
    }
    if (!isCurrent(attempt)) co_return;
    connectionAttemptID_.reset();
    if (error) {
        setConnectionState(
            ConnectionState::failed("Could not safely reset the interrupted tunnel: " + describe(error)));
        co_return;
    }
    setConnectionState(ConnectionState::disconnected());
    if (preferences_.boolValue(PreferenceKey::autoReconnectEnabled) == false) {
        if (tunnelProvider_->holdsBlock()) {
            setConnectionState(ConnectionState::failed(kLostWhileBlocking));
            co_return;
        }
        co_await refreshCatalog();
        co_await refreshPublicIP();
        co_return;
    }
    co_await connectSelected();
}

void AppModel::healthTick() {
    if (isConnectionBusy()) return;
    if (connectionState_.isConnected() || reconnectWhenNetworkReturns_ || tunnelProvider_->holdsBlock()) {
        handleNetworkPath(NetworkPathStatus::satisfied);
    }
}

QCoro::Task<> AppModel::refreshIfIdle() {
    if (!connectionState_.isFailed() && !connectionState_.isDisconnected()) co_return;
    co_await refreshCatalog();
    co_await refreshPublicIP();
}

}  // namespace orlune
