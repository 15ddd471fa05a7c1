#include "model_fakes.h"

#include "core/cancellation_error.h"
#include "core/tunnel_error.h"

namespace orlune::test {

Relay makeRelay(const QString& name, const QString& country, const QString& code, qint64 ping,
                qint64 speedBitsPerSecond, const QString& address) {
    static int counter = 0;
    const QString ip = address.isEmpty() ? QStringLiteral("198.51.100.%1").arg(10 + (counter++ % 200)) : address;
    Relay relay;
    relay.id = name + "-" + ip;
    relay.country = country;
    relay.countryCode = code;
    relay.name = name;
    relay.hostname = ip;
    relay.pingMilliseconds = ping;
    relay.speedBitsPerSecond = speedBitsPerSecond;
    relay.sessions = 1;
    relay.uptimeSeconds = 3600;
    relay.supportsOpenVPN = true;
    return relay;
}

namespace {
// A refusal of the service, or a cancellation, leaves no engine running.
bool startsNoEngine(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const TunnelError& failure) {
        return failure.kind() == TunnelError::Kind::backendCommandFailed ||
               failure.kind() == TunnelError::Kind::backendUnavailable;
    } catch (const CancellationError&) {
        return true;
    } catch (...) {
        return false;
    }
}
}  // namespace

QCoro::Task<std::vector<Relay>> FakeCatalog::fetch() {
    ++fetches;
    ++pending;
    if (gate) co_await gate->wait();
    --pending;
    if (error) std::rethrow_exception(error);
    co_return std::vector<Relay>(relays);  // a copy: QCoro moves from a returned lvalue
}

QCoro::Task<CatalogFetch> FakeCatalog::fetchWithFallback() {
    CatalogFetch fetched;
    try {
        fetched.relays = co_await fetch();
    } catch (...) {
        if (!kept) throw;
        fetched = *kept;
    }
    co_return fetched;
}

TunnelVerification FakeTunnel::verified(const Relay& relay) {
    return {true, "exit-" + relay.hostname, relay.countryCode.toUpper(), QStringLiteral("tun0"), {}};
}

QCoro::Task<TunnelVerification> FakeTunnel::connect(Relay relay, std::optional<QString>, Progress progress) {
    const int attempt = ++generation_;
    connectedIDs.push_back(relay.id);
    holding.reset();
    stoppedOnRequest = false;
    for (const QString& line : progressLines) progress(line);
    if (connectGate) co_await connectGate->wait();
    if (faithful && attempt != generation_) throw CancellationError();
    if (answered) answered(relay.id);
    auto outcome = outcomes.find(relay.id);
    if (outcome == outcomes.end()) {
        holding = relay.id;
        TunnelVerification verification = verified(relay);
        verification.profile = !keptProfiles.empty() && keptProfiles.back().first == relay.id
                                   ? keptProfiles.back().second
                                   : "profile of " + relay.id;
        co_return verification;
    }
    if (auto* error = std::get_if<std::exception_ptr>(&outcome->second)) {
        if (!startsNoEngine(*error)) holding = relay.id;
        std::rethrow_exception(*error);
    }
    holding = relay.id;
    co_return TunnelVerification(std::get<TunnelVerification>(outcome->second));
}

QCoro::Task<> FakeTunnel::disconnect() {
    ++generation_;
    holding.reset();
    stoppedOnRequest = false;
    ++disconnects;
    if (disconnectGate) co_await disconnectGate->wait();
    if (disconnectError) std::rethrow_exception(disconnectError);
    co_return;
}

QCoro::Task<> FakeTunnel::recoverStaleConnections() {
    ++recoveries;
    if (recoverError) std::rethrow_exception(recoverError);
    co_return;
}

QCoro::Task<bool> FakeTunnel::isTunnelActive() {
    co_return tunnelActive && (!faithful || holding);
}

QCoro::Task<TunnelHealth> FakeTunnel::tunnelHealth() {
    if (stoppedOnRequest) co_return TunnelHealth::stoppedOnRequest;
    co_return co_await isTunnelActive() ? TunnelHealth::active : TunnelHealth::lost;
}

QCoro::Task<std::optional<QString>> FakeTunnel::engineVersion() {
    std::optional<QString> version = engine;  // a copy: co_return would move a member out
    co_return version;
}

QCoro::Task<bool> FakeNetwork::isInternetReachable() {
    ++reachabilityChecks;
    co_return reachable;
}

QCoro::Task<bool> FakeNetwork::anyCheckAnswers() {
    if (quickCheckGate) co_await quickCheckGate->wait();
    co_return co_await isInternetReachable();
}

QCoro::Task<QString> FakeNetwork::publicIP() {
    ++addressLookups;
    if (!address) throw TunnelError(TunnelError::Kind::vpnIPUnavailable);
    co_return QString(*address);
}

QCoro::Task<> FakeClock::sleep(std::chrono::milliseconds duration) {
    sleeps.push_back(duration);
    co_return;
}

ModelFixture::ModelFixture() {
    clockState_ = FakeClock().current;
    rebuild();
}

ModelFixture::~ModelFixture() = default;

QCoro::Task<std::optional<qint64>> FakeMeasurer::roundTripMilliseconds() {
    if (gate) co_await gate->wait();
    co_return rtt;
}

QCoro::Task<std::optional<qint64>> FakeMeasurer::throughputBitsPerSecond() {
    ++downloads;
    co_return throughput;
}

AppModel& ModelFixture::rebuild() {
    if (model_) {
        catalogState_.relays = catalog->relays;
        networkState_ = *network;
        clockState_ = clock->current;
        wallShiftState_ = clock->wallShift;
    }
    model_.reset();
    preferences_ = std::make_unique<Preferences>(
        std::make_unique<QSettings>(directory_.filePath("preferences.ini"), QSettings::IniFormat));
    auto fakeCatalog = std::make_unique<FakeCatalog>();
    fakeCatalog->relays = catalogState_.relays;
    auto fakeNetwork = std::make_unique<FakeNetwork>(networkState_);
    auto fakeClock = std::make_unique<FakeClock>();
    fakeClock->current = clockState_;
    fakeClock->wallShift = wallShiftState_;
    auto fakeTunnel = std::make_unique<FakeTunnel>();
    auto fakeMeasurer = std::make_unique<FakeMeasurer>();
    measurer = fakeMeasurer.get();
    catalog = fakeCatalog.get();
    network = fakeNetwork.get();
    clock = fakeClock.get();
    tunnel = fakeTunnel.get();
    AppModel::Dependencies dependencies;
    dependencies.preferences = preferences_.get();
    dependencies.catalogProvider = std::move(fakeCatalog);
    dependencies.tunnelProvider = std::move(fakeTunnel);
    dependencies.network = std::move(fakeNetwork);
    dependencies.clock = std::move(fakeClock);
    dependencies.measurer = std::move(fakeMeasurer);
    model_ = std::make_unique<AppModel>(std::move(dependencies));
    return *model_;
}

}  // namespace orlune::test
