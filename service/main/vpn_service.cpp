#include "main/vpn_service.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <vector>

#include "control/native_wire.h"
#include "control/wire_failure.h"
#include "core/service_failure.h"
#include "core/tool_runner.h"
#include "engine/engine_interface.h"
#include "firewall/firewall_error.h"
#include "main/request_reader.h"
#include "texts/platform_texts.h"

namespace orlune {
namespace {

constexpr int kConnectionTimeoutSeconds = 2;
constexpr int kListenBacklog = 64;
// One whole request, however it is trickled, must arrive within this.
constexpr std::chrono::milliseconds kRequestDeadline{3000};
// Supervision runs at least this often, whatever the clients do.
constexpr std::chrono::milliseconds kTickInterval{250};
// Requests being read at once, in all and from one account: beyond them a client is refused at
// once, so no account can crowd out the others.
constexpr std::size_t kMaximumClients = 32;
constexpr std::size_t kMaximumClientsPerUser = 4;
// A wait that ends this much later than it was due means the service did not run meanwhile.
constexpr std::chrono::seconds kPauseThreshold{5};
// Connections taken from the queue per turn of the loop, so supervision and clients already
// accepted keep their turn under a flood.
constexpr int kAcceptsPerTurn = 8;
constexpr const char* kServiceBusy = "The VPN service is busy with other requests from this account. Try again.";
constexpr const char* kBlockUnavailable =
    "This VPN service cannot block traffic outside the VPN. Turn off \"Block traffic outside the VPN\" and "
    "\"Block IPv6 while connected\".";

using SteadyTime = std::chrono::steady_clock::time_point;

int millisecondsUntil(SteadyTime when, SteadyTime now) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - now).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1000));
}

// Sends a small reply; on a connection that does not wait, a client that does not take it at
// once loses it.
void sendNow(int fd, const NativeReply& answer) {
    try {
        NativeWire::send(fd, answer);
    } catch (...) {
        // The client is gone or stalled; there is nobody left to tell.
    }
}

// Before closing a refused client, whatever it has already written is read away, so the close
// does not reset the connection under the reply it is about to read. Nothing is waited for.
void discardQueued(int fd) {
    char buffer[16384];
    for (std::size_t total = 0; total <= NativeWire::limit + 4;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0) return;
        total += static_cast<std::size_t>(n);
    }
}

}  // namespace

struct VPNService::Client {
    UniqueFd fd;
    PeerIdentity peer;
    RequestReader reader;
    SteadyTime deadline;
};

VPNService::VPNService(ServiceParts parts)
    : parts_(std::move(parts)), supervisor_(parts_.engine, parts_.processes, parts_.clock, *this, parts_.timings) {}

VPNService::~VPNService() = default;

void VPNService::restoreDNS() {
    parts_.dns.restoreDNS();
}

void VPNService::engineStopped() {
    observation_ = TransportObservation{};
}

void VPNService::stopQuietly() noexcept {
    try {
        supervisor_.stop();
    } catch (...) {
        // The caller reports its own failure; a DNS record left behind is retried later.
    }
}

void VPNService::serve(const std::atomic<bool>& shouldExit) {
    supervisor_.recover();
    // A block left by a crash is lifted: nobody holds it any more. When that fails the record
    // stays and every later stop tries again; the service itself still starts.
    liftBlockQuietly();

    std::filesystem::create_directories(parts_.socketDirectory);
    (void)::chmod(parts_.socketDirectory.c_str(), 0755);
    (void)::unlink(parts_.socketPath.c_str());

    UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listener) throw WireFailure::unavailable();
    auto abandon = [&] {
        listener.reset();
        (void)::unlink(parts_.socketPath.c_str());
        stopQuietly();
    };
    sockaddr_un address{};
    try {
        address = NativeWire::address(parts_.socketPath);
    } catch (...) {
        abandon();
        throw;
    }
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), kListenBacklog) != 0) {
        abandon();
        throw WireFailure::unavailable();
    }
    // Any local user's app may connect; every connection is authorized on its own.
    (void)::chmod(parts_.socketPath.c_str(), 0666);

    SteadyTime nextTick = std::chrono::steady_clock::now();
    while (!shouldExit.load()) {
        SteadyTime now = std::chrono::steady_clock::now();
        if (now >= nextTick) {
            tick();
            nextTick = now + kTickInterval;
        }
        SteadyTime wake = nextTick;
        std::vector<pollfd> waiting;
        waiting.push_back({listener.get(), static_cast<short>(clients_.size() < kMaximumClients ? POLLIN : 0), 0});
        waiting.push_back({supervisor_.logDescriptor(), POLLIN, 0});
        for (const auto& client : clients_) {
            waiting.push_back({client->fd.get(), POLLIN, 0});
            wake = std::min(wake, client->deadline);
        }
        const int timeout = millisecondsUntil(wake, now);
        const SteadyTime due = now + std::chrono::milliseconds(timeout);
        // A signal ends the wait early (EINTR), and the loop then sees shouldExit.
        const int ready = ::poll(waiting.data(), waiting.size(), timeout);
        // A suspend stops this clock, but a freeze or a SIGSTOP of the service does not.
        const auto late = std::chrono::steady_clock::now() - due;
        if (late > kPauseThreshold) {
            logFailure("supervision",
                       "the service did not run for " +
                           std::to_string(std::chrono::duration_cast<std::chrono::seconds>(late).count()) +
                           " s; the owner's silence counts from now");
            resumeAfterPause();
        }
        if (ready < 0) continue;
        if (waiting[1].revents != 0) supervisor_.drainLog();
        serveClients(waiting);
        if ((waiting[0].revents & POLLIN) != 0) acceptClients(listener.get());
    }

    clients_.clear();
    listener.reset();
    (void)::unlink(parts_.socketPath.c_str());
    stopQuietly();
    liftBlockQuietly();
}

void VPNService::resumeAfterPause() {
    supervisor_.resumeAfterPause();
    if (block_) block_->heartbeat = parts_.clock.now();
}

void VPNService::acceptClients(int listener) {
    for (int i = 0; i < kAcceptsPerTurn && clients_.size() < kMaximumClients; ++i) {
        UniqueFd connection(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!connection) return;
        PeerIdentity peer;
        try {
            peer = parts_.authorizer.peer(connection.get());
        } catch (const std::exception& error) {
            refuseNow(connection.get(), userSentence(error, "refused a client"));
            continue;
        }
        const auto sameUser = std::count_if(clients_.begin(), clients_.end(),
                                            [&](const auto& client) { return client->peer.uid == peer.uid; });
        if (static_cast<std::size_t>(sameUser) >= kMaximumClientsPerUser) {
            refuseNow(connection.get(), kServiceBusy);
            continue;
        }
        clients_.push_back(std::make_unique<Client>(
            Client{std::move(connection), peer, RequestReader{}, std::chrono::steady_clock::now() + kRequestDeadline}));
        // A request that came with the connection is served in this same turn.
        readClient(*clients_.back());
        if (clients_.back()->reader.progress() != RequestReader::Progress::incomplete)
            finishClient(clients_.size() - 1);
    }
}

void VPNService::serveClients(const std::vector<pollfd>& waiting) {
    // The first two entries are the listener and the engine log; clients follow in order.
    std::vector<Client*> ready;
    for (std::size_t i = 2; i < waiting.size() && i - 2 < clients_.size(); ++i) {
        if (waiting[i].revents != 0) ready.push_back(clients_[i - 2].get());
    }
    for (Client* client : ready) readClient(*client);
    const SteadyTime now = std::chrono::steady_clock::now();
    for (std::size_t i = clients_.size(); i-- > 0;) {
        if (clients_[i]->reader.progress() != RequestReader::Progress::incomplete || now >= clients_[i]->deadline) {
            finishClient(i);
        }
    }
}

void VPNService::readClient(Client& client) {
    char buffer[16384];
    while (client.reader.progress() == RequestReader::Progress::incomplete) {
        const ssize_t n = ::recv(client.fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            client.reader.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // Closed before the whole request (or failed): the deadline check answers it.
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) client.deadline = SteadyTime{};
            return;
        }
    }
}

void VPNService::finishClient(std::size_t index) {
    std::unique_ptr<Client> client = std::move(clients_[index]);
    clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(index));
    NativeReply answer;
    try {
        if (client->reader.progress() != RequestReader::Progress::complete) throw WireFailure::invalid();
        const NativeRequest request = decodeMessage<NativeRequest>(client->reader.body());
        verifyAgain(client->fd.get(), client->peer);
        answer = respond(request, client->peer);
    } catch (const std::exception& error) {
        answer = reply(false, NativeState::failed, userSentence(error, "request"));
    }
    sendNow(client->fd.get(), answer);
}

void VPNService::refuseNow(int fd, std::string reason) {
    sendNow(fd, reply(false, NativeState::failed, std::move(reason)));
    discardQueued(fd);
}

void VPNService::verifyAgain(int fd, const PeerIdentity& peer) {
    // The program may have been replaced by exec since the connection was accepted; what
    // counts is who holds the connection now that its request has been read.
    if (parts_.authorizer.peer(fd) != peer) throw ServiceFailure::rejected(kUnauthorizedClient);
}

void VPNService::handle(UniqueFd connection) {
    NativeWire::configure(connection.get(), kConnectionTimeoutSeconds);
    NativeReply answer;
    try {
        const PeerIdentity peer = parts_.authorizer.peer(connection.get());
        try {
            const NativeRequest request = NativeWire::receive<NativeRequest>(connection.get());
            verifyAgain(connection.get(), peer);
            answer = respond(request, peer);
        } catch (const std::exception& error) {
            answer = reply(false, NativeState::failed, userSentence(error, "request"));
        }
    } catch (const std::exception& error) {
        refuseNow(connection.get(), userSentence(error, "refused a client"));
        return;
    }
    sendNow(connection.get(), answer);
}

NativeReply VPNService::respond(const NativeRequest& request, const PeerIdentity& peer) {
    try {
        if ((supervisor_.ownerUID() && *supervisor_.ownerUID() != peer.uid) || (block_ && block_->uid != peer.uid)) {
            throw ServiceFailure::rejected(std::string(kPlatformTexts.anotherUserOwnsConnection));
        }
        if (supervisor_.ownerPID() == peer.pid) supervisor_.refreshHeartbeat();
        if (block_ && block_->pid == peer.pid) block_->heartbeat = parts_.clock.now();
        if (request.operation == NativeOperation::status) return withBlock(status());
        if (request.operation == NativeOperation::disconnect) return withBlock(disconnect(request));
        if (request.operation == NativeOperation::connect) return withBlock(connect(request, peer));
        throw ServiceFailure::rejected(kUnsupportedOperation);
    } catch (const std::exception& error) {
        return reply(false, NativeState::failed, userSentence(error, request.operation));
    }
}

NativeReply VPNService::reply(bool ok, std::string_view state, std::string message) const {
    NativeReply result;
    result.ok = ok;
    result.state = std::string(state);
    result.message = std::move(message);
    result.engineVersion = parts_.engineVersion;
    return result;
}

NativeReply VPNService::status() {
    if (!supervisor_.engineRunning()) {
        const std::string& failure = supervisor_.lastFailure();
        NativeReply result = reply(true, failure.empty() ? NativeState::stopped : NativeState::failed, failure);
        result.stopRequested = failure.empty() && stoppedOnRequest_;
        return result;
    }
    const std::string tail = supervisor_.logTail();
    switch (engineRefusal(tail)) {
    case EngineRefusal::authentication:
        return reply(false, NativeState::failed, kStatusAuthenticationFailed);
    case EngineRefusal::verification:
        return reply(false, NativeState::failed, kStatusVerificationFailed);
    case EngineRefusal::none:
        break;
    }
    observation_ = TransportObservation::parse(tail, observation_);
    const std::optional<std::string> route = parts_.dns.routeInterface();
    NativeReply result;
    if (route && observation_.interface && *route == *observation_.interface && observation_.ready &&
        route->starts_with(kHostObservationLines.interfacePrefix)) {
        blockTunnel(*route);
        parts_.dns.tunnelUp(*route);
        result = reply(true, NativeState::connected);
        result.interface = route;
    } else {
        result = reply(true, NativeState::connecting, kStatusWaiting);
    }
    result.ownerPID = supervisor_.ownerPID();
    return result;
}

NativeReply VPNService::disconnect(const NativeRequest& request) {
    supervisor_.stop();
    supervisor_.clearFailure();
    stoppedOnRequest_ = true;
    if (request.keepBlocking && block_ && block_->policy.blockTraffic) {
        // Between two relays: the old relay and tunnel are no longer let through.
        FirewallPolicy closed = block_->policy;
        closed.relay.reset();
        closed.tunnel.reset();
        parts_.firewall->raise(closed);
        block_->policy = std::move(closed);
    } else {
        liftBlock();
    }
    NativeReply result = reply(true, NativeState::stopped);
    result.stopRequested = true;
    return result;
}

NativeReply VPNService::connect(const NativeRequest& request, const PeerIdentity& peer) {
    if (!request.profile || !request.expectedHost) throw ServiceFailure::rejected(kProfileMissing);
    // A refused profile leaves a running tunnel alone.
    const std::string configuration = parts_.configuration(*request.profile, *request.expectedHost);
    if ((request.blockTraffic || request.blockIPv6) && !parts_.firewall)
        throw ServiceFailure::rejected(kBlockUnavailable);
    supervisor_.stop();
    supervisor_.clearFailure();
    stoppedOnRequest_ = false;
    // Raised before the engine starts, so nothing of the attempt can pass beside it; a failure
    // starts nothing.
    raiseBlock(request, configuration, peer);
    supervisor_.writeConfiguration(configuration);
    UniqueFd log = supervisor_.createLog();
    const EnginePaths& paths = supervisor_.paths();
    EngineCommand command = engineCommand(paths.engine, paths.configuration(), parts_.engineVersion);
    LaunchRequest launch{std::move(command.executable), std::move(command.arguments), toolEnvironment(), -1};
    supervisor_.adopt(peer.uid, peer.pid, std::move(log));
    try {
        parts_.dns.applyDNS();
        supervisor_.launch(std::move(launch));
    } catch (...) {
        stopQuietly();
        throw;
    }
    NativeReply result = reply(true, NativeState::connecting);
    result.ownerPID = peer.pid;
    return result;
}

void VPNService::raiseBlock(const NativeRequest& request, const std::string& configuration, const PeerIdentity& peer) {
    FirewallPolicy policy{.blockTraffic = request.blockTraffic,
                          .allowLocalNetwork = request.allowLocalNetwork,
                          .blockIPv6 = request.blockIPv6,
                          .relay = relayEndpoint(configuration),
                          .tunnel = std::nullopt};
    if (!policy.blocksAnything()) {
        liftBlock();
        return;
    }
    if (policy.blockTraffic && !policy.relay) throw FirewallError::invalidRule();
    parts_.firewall->raise(policy);
    if (!block_ || block_->pid != peer.pid) {
        block_.emplace();
        block_->watch = parts_.processes.watch(peer.pid);
    }
    block_->uid = peer.uid;
    block_->pid = peer.pid;
    block_->heartbeat = parts_.clock.now();
    block_->policy = std::move(policy);
}

void VPNService::blockTunnel(const std::string& interface) {
    if (!block_ || block_->policy.tunnel == interface) return;
    FirewallPolicy open = block_->policy;
    open.tunnel = interface;
    parts_.firewall->raise(open);
    block_->policy = std::move(open);
}

void VPNService::liftBlock() {
    if (!parts_.firewall) return;
    parts_.firewall->lift();
    block_.reset();
}

void VPNService::liftBlockQuietly() noexcept {
    try {
        liftBlock();
    } catch (...) {
        // The record stays; the next stop, tick or start tries again.
    }
}

bool VPNService::holderAlive() {
    if (!block_->watch) return parts_.processes.exists(block_->pid);
    pollfd ended{block_->watch.get(), POLLIN, 0};
    return ::poll(&ended, 1, 0) == 0;
}

void VPNService::superviseBlock() noexcept {
    if (!block_) return;
    if (holderAlive() && parts_.clock.now() - block_->heartbeat <= parts_.timings.heartbeatLimit) return;
    // Nobody is left to lift it or to say why the network is closed.
    stopQuietly();
    liftBlockQuietly();
}

NativeReply VPNService::withBlock(NativeReply result) const {
    result.blockingTraffic = block_ && block_->policy.blockTraffic;
    result.blockingIPv6 = block_ && (block_->policy.blockIPv6 || block_->policy.blockTraffic);
    return result;
}

}  // namespace orlune
