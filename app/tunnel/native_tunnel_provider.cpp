#include "tunnel/native_tunnel_provider.h"

#include <qcoro/qcorotimer.h>

#include <net/if.h>

#include <filesystem>
#include <system_error>
#include <utility>

#include "catalog/catalog_cache.h"
#include "catalog/catalog_parsing.h"
#include "core/cancellation_error.h"
#include "core/tunnel_error.h"
#include "network/interface_names.h"
#include "network/internet_reachability.h"
#include "network/public_ip_lookup.h"
#include "network/step_trace.h"
#include "tunnel/exit_country_lookup.h"

namespace orlune {
namespace {

const QString kRelayEndedAttempt = QStringLiteral("The selected relay ended the connection attempt.");
// The sentence keeps the production limit, whatever a test sets.
const QString kConfirmationTimedOut = QStringLiteral("VPN confirmation timed out after 30 seconds. ");
const char* const kBlockNotSupported =
    "The VPN service did not block traffic outside the VPN. Install the same version of the Orlune VPN package as "
    "this app, or turn off \"Block traffic outside the VPN\" and \"Block IPv6 while connected\".";

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}
std::string utf8(const QString& text) {
    return text.toStdString();
}

NativeRequest operation(std::string_view name) {
    NativeRequest request;
    request.operation = std::string(name);
    return request;
}

bool isTunnelInterface(const std::optional<std::string>& interface) {
    return interface && text(*interface).startsWith(kTunnelInterfacePrefix);
}

// Nothing when the lookup fails: the caller then asks for the address the echo saw.
QCoro::Task<std::optional<QString>> countryOfListedAddress(QString address) {
    try {
        co_return co_await ExitCountryLookup::countryCode(std::move(address));
    } catch (...) {
        co_return std::nullopt;
    }
}

}  // namespace

TunnelClock TunnelClock::system() {
    return TunnelClock{
        .now = [] { return std::chrono::steady_clock::now(); },
        .sleep = [](std::chrono::milliseconds duration) -> QCoro::Task<> { co_await QCoro::sleepFor(duration); },
    };
}

NativeTunnelProvider::NativeTunnelProvider() : NativeTunnelProvider(Dependencies{}) {}

NativeTunnelProvider::NativeTunnelProvider(Dependencies dependencies)
    : catalog_(dependencies.catalogAccess ? std::move(dependencies.catalogAccess) : std::make_shared<CatalogAccess>()),
      rpc_(std::move(dependencies.socketPath)),
      routeLookup_(std::move(dependencies.routeLookup)),
      internetReachable_(std::move(dependencies.internetReachable)),
      interfaceExists_(std::move(dependencies.interfaceExists)),
      timings_(dependencies.timings),
      clock_(std::move(dependencies.clock)) {
    if (!internetReachable_) internetReachable_ = [] { return InternetReachability::isInternetReachable(); };
    if (!interfaceExists_) {
        interfaceExists_ = [](const QString& name) { return ::if_nametoindex(name.toUtf8().constData()) != 0; };
    }
}

QCoro::Task<NativeReply> NativeTunnelProvider::request(NativeRequest request) {
    co_return co_await rpc_.request(std::move(request));
}

bool NativeTunnelProvider::serviceInstalled() const {
    std::error_code error;
    return std::filesystem::exists(rpc_.socketPath(), error);
}

void NativeTunnelProvider::checkAttempt(const QUuid& attempt) const {
    if (generation_ != attempt) throw CancellationError();
}

QCoro::Task<TunnelVerification> NativeTunnelProvider::connect(Relay relay, std::optional<QString> originalIP,
                                                              Progress progress) {
    const QUuid attempt = QUuid::createUuid();
    generation_ = attempt;
    const auto report = [&progress](const QString& line) {
        if (progress) progress(line);
    };

    if (!serviceInstalled()) throw TunnelError(TunnelError::Kind::backendUnavailable);
    if (!originalIP || originalIP->isEmpty()) throw TunnelError(TunnelError::Kind::originalIPUnavailable);

    StepTimer recoverStep("recover");
    co_await recoverStaleConnections();
    recoverStep.finish();
    checkAttempt(attempt);

    report(keptProfile_ && keptProfile_->first == relay.id
               ? QStringLiteral("Using the profile this relay worked with before…")
               : QStringLiteral("Fetching a fresh VPN Gate profile…"));
    StepTimer profileStep("profile");
    const ProfileFetch fetched = co_await profileFor(relay);
    profileStep.finish();
    checkAttempt(attempt);
    const QString& profile = fetched.profile;
    if (fetched.keptFrom) {
        report(QStringLiteral("Using the profile from the catalog kept %1 — the live catalog could not be loaded: %2")
                   .arg(catalogAgeText(*fetched.keptFrom, QDateTime::currentDateTimeUtc()), fetched.liveFailure));
    }

    report(QStringLiteral("Starting the built-in VPN…"));
    // Requests are named locals: GCC 12 destroys a braced temporary inside co_await twice.
    NativeRequest start = operation(NativeOperation::connect);
    start.profile = utf8(profile);
    start.expectedHost = utf8(relay.hostname);
    start.blockTraffic = protection_.blockTraffic;
    start.allowLocalNetwork = protection_.allowLocalNetwork;
    start.blockIPv6 = protection_.blockIPv6;
    StepTimer startStep("engine_start");
    NativeReply status = co_await request(std::move(start));
    startStep.finish();
    blockHeld_ = status.blockingTraffic;
    checkAttempt(attempt);
    if (!status.ok) throw TunnelError::backendCommandFailed(status.message);
    // An older service ignores what it does not know; it must not pass for a blocking one.
    if ((protection_.blockTraffic && !status.blockingTraffic) || (protection_.blockIPv6 && !status.blockingIPv6)) {
        throw TunnelError::backendCommandFailed(kBlockNotSupported);
    }

    StepTimer waitStep("engine_wait");
    const auto started = clock_.now();
    const auto deadline = started + timings_.confirmationDeadline;
    while (clock_.now() < deadline) {
        checkAttempt(attempt);
        NativeRequest poll = operation(NativeOperation::status);
        status = co_await request(std::move(poll));
        checkAttempt(attempt);
        if (status.state == NativeState::connected) break;
        if (status.state == NativeState::failed || status.state == NativeState::stopped) {
            throw TunnelError::serverConnectionFailed(status.message.empty() ? utf8(kRelayEndedAttempt)
                                                                             : status.message);
        }
        if (!status.ok) throw TunnelError::backendCommandFailed(status.message);
        const bool early = clock_.now() - started < timings_.fastStatusPeriod;
        co_await clock_.sleep(early ? timings_.fastStatusInterval : timings_.statusInterval);
    }
    waitStep.finish();
    if (status.state != NativeState::connected || !isTunnelInterface(status.interface)) {
        throw TunnelError::serverConnectionFailed(utf8(kConfirmationTimedOut) + status.message);
    }

    const QString interface = text(*status.interface);
    activeInterface_ = interface;
    report(QStringLiteral("Verifying VPN route and IPv4 address…"));
    // A relay almost always exits at the address it is listed with: that address's country is
    // asked alongside the address itself, and counts only when the echo saw that address.
    QCoro::Task<std::optional<QString>> listedCountry = countryOfListedAddress(relay.hostname);
    StepTimer addressStep("vpn_address");
    const QString vpnIP = co_await PublicIPLookup::current();
    addressStep.finish();
    checkAttempt(attempt);
    if (vpnIP == *originalIP) throw TunnelError(TunnelError::Kind::publicIPDidNotChange);

    report(QStringLiteral("Verifying VPN exit country…"));
    StepTimer countryStep("exit_country");
    std::optional<QString> listed = co_await listedCountry;
    QString exitCountry;
    if (vpnIP == relay.hostname && listed) {
        exitCountry = std::move(*listed);
    } else {
        exitCountry = co_await ExitCountryLookup::countryCode(vpnIP);
    }
    countryStep.finish();
    checkAttempt(attempt);
    if (relay.countryCode.compare(exitCountry, Qt::CaseInsensitive) != 0) {
        throw TunnelError::countryMismatch(utf8(relay.countryCode.toUpper()), utf8(exitCountry));
    }

    StepTimer routeStep("route_check");
    const bool active = co_await isTunnelActive();
    routeStep.finish();
    // Superseded while asking: not the relay's failure.
    checkAttempt(attempt);
    if (!active) throw TunnelError(TunnelError::Kind::tunnelRouteUnverified);
    co_return TunnelVerification{
        .isTunnelActive = true,
        .vpnPublicIP = vpnIP,
        .exitCountryCode = exitCountry,
        .tunnelInterface = interface,
        .profile = profile,
    };
}

QCoro::Task<bool> NativeTunnelProvider::isTunnelActive() {
    co_return co_await tunnelHealth() == TunnelHealth::active;
}

QCoro::Task<TunnelHealth> NativeTunnelProvider::tunnelHealth() {
    try {
        NativeRequest query = operation(NativeOperation::status);
        const NativeReply reply = co_await request(std::move(query));
        const std::optional<QString> interface =
            reply.interface ? std::optional<QString>(text(*reply.interface)) : std::nullopt;
        if (reply.ok && reply.state == NativeState::connected && interface == activeInterface_) {
            // The service's word, and the routes themselves: all IPv4 traffic leaves through it.
            co_return routeLookup_->interfaceCarryingDefaultRoute() == activeInterface_ ? TunnelHealth::active
                                                                                        : TunnelHealth::lost;
        }
        // Only the service's own word that a client asked for the stop makes it the user's; a
        // restarted service or an engine that died reads as a loss.
        const bool asked = reply.ok && reply.state == NativeState::stopped && reply.stopRequested;
        co_return asked ? TunnelHealth::stoppedOnRequest : TunnelHealth::lost;
    } catch (...) {
        co_return TunnelHealth::lost;
    }
}

QCoro::Task<std::optional<QString>> NativeTunnelProvider::engineVersion() {
    if (!serviceInstalled()) co_return std::nullopt;
    try {
        NativeRequest query = operation(NativeOperation::status);
        const NativeReply reply = co_await request(std::move(query));
        co_return std::optional<QString>(text(reply.engineVersion));
    } catch (...) {
        co_return std::nullopt;
    }
}

NativeRequest NativeTunnelProvider::stopRequest() const {
    NativeRequest stop = operation(NativeOperation::disconnect);
    // Between two relays, after a loss and after a failed attempt the block stays; only the
    // user's stop (which clears the protection first) lifts it.
    stop.keepBlocking = protection_.blockTraffic && blockHeld_;
    return stop;
}

QCoro::Task<ProfileFetch> NativeTunnelProvider::profileFor(const Relay& relay) {
    // Asked for by the user for a relay that left the list: the profile it was verified with.
    if (auto kept = std::exchange(keptProfile_, std::nullopt); kept && kept->first == relay.id) {
        co_return ProfileFetch{kept->second, {}, {}, {}};
    }
    // While the block holds, only the relay is reachable: the list read before it closed serves.
    if (blockHeld_ && heldCatalog_)
        co_return ProfileFetch{profileFromCatalog(*heldCatalog_, relay), {}, {}, *heldCatalog_};
    ProfileFetch fetched = co_await catalog_.openVPNConfigurationWithFallback(relay);
    heldCatalog_ = fetched.catalog;
    co_return fetched;
}

QCoro::Task<void> NativeTunnelProvider::recoverStaleConnections() {
    if (!serviceInstalled()) co_return;
    NativeRequest stop = stopRequest();
    const NativeReply reply = co_await request(std::move(stop));
    if (!reply.ok) throw TunnelError::backendCommandFailed(reply.message);
    blockHeld_ = reply.blockingTraffic;
    activeInterface_.reset();
}

QCoro::Task<void> NativeTunnelProvider::disconnect() {
    generation_ = QUuid::createUuid();
    if (serviceInstalled()) {
        NativeRequest stop = stopRequest();
        const NativeReply reply = co_await request(std::move(stop));
        if (!reply.ok || reply.state != NativeState::stopped) {
            throw TunnelError(TunnelError::Kind::disconnectNotConfirmed);
        }
        blockHeld_ = reply.blockingTraffic;
    }
    const std::optional<QString> tunnel = std::exchange(activeInterface_, std::nullopt);
    const auto deadline = clock_.now() + timings_.restoreDeadline;
    while (true) {
        const std::optional<QString> route = routeLookup_->interfaceTowardsInternet();
        // With no route at all (the link is gone) the physical route cannot come back: the
        // service's "stopped" and the tunnel interface being gone are the proof.
        if (!route && !(tunnel && interfaceExists_(*tunnel))) co_return;
        if (clock_.now() >= deadline) {
            throw TunnelError(isPhysicalRouteInterface(route) ? TunnelError::Kind::internetUnverifiedAfterDisconnect
                                                              : TunnelError::Kind::physicalRouteNotRestored);
        }
        // Only ask the Internet once the route is physical again: through a dying tunnel the
        // probes would prove nothing.
        // While the block holds, the Internet cannot answer: the physical route is the proof.
        if (isPhysicalRouteInterface(route) && (blockHeld_ || co_await internetReachable_())) co_return;
        co_await clock_.sleep(timings_.routeInterval);
    }
}

}  // namespace orlune
