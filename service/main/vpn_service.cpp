#include "main/vpn_service.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <system_error>

#include "control/native_wire.h"
#include "control/wire_failure.h"
#include "engine/engine_interface.h"
#include "main/service_failure.h"
#include "main/tool_runner.h"
#include "texts/platform_texts.h"

namespace orlune {
namespace {

constexpr int kConnectionTimeoutSeconds = 2;
constexpr int kListenBacklog = 8;
constexpr int kIdleWaitMilliseconds = 1000;

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// After the reply to a client refused before its request was read: it may still be writing that
// request, and closing now would fail its write and hide the reply from it. So the write side is
// shut and whatever arrives is discarded unread until the client closes, for at most the
// connection time-out and one frame's worth of bytes.
void closeGently(int fd) {
    (void)::shutdown(fd, SHUT_WR);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kConnectionTimeoutSeconds);
    std::size_t discarded = 0;
    char buffer[16384];
    while (discarded <= NativeWire::limit + 4) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0) return;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0) return;
        discarded += static_cast<std::size_t>(n);
    }
}

}  // namespace

VPNService::VPNService(ServiceParts parts)
    : parts_(std::move(parts)), supervisor_(parts_.engine, parts_.processes, parts_.clock, *this, parts_.timings) {}

void VPNService::restoreDNS() { parts_.dns.restoreDNS(); }

void VPNService::engineStopped() { observation_ = TransportObservation{}; }

void VPNService::stopQuietly() noexcept {
    try {
        supervisor_.stop();
    } catch (...) {
        // The caller reports its own failure; a DNS record left behind is retried later.
    }
}

void VPNService::serve(const std::atomic<bool>& shouldExit) {
    supervisor_.recover();

    std::filesystem::create_directories(parts_.socketDirectory);
    (void)::chmod(parts_.socketDirectory.c_str(), 0755);
    (void)::unlink(parts_.socketPath.c_str());

    UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
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

    while (!shouldExit.load()) {
        supervisor_.tick();
        pollfd waiting{listener.get(), POLLIN, 0};
        // A signal ends the wait early (EINTR), and the loop then sees shouldExit.
        if (::poll(&waiting, 1, kIdleWaitMilliseconds) <= 0 || (waiting.revents & POLLIN) == 0) continue;
        UniqueFd connection(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (connection) handle(std::move(connection));
    }

    listener.reset();
    (void)::unlink(parts_.socketPath.c_str());
    stopQuietly();
}

void VPNService::handle(UniqueFd connection) {
    NativeWire::configure(connection.get(), kConnectionTimeoutSeconds);
    NativeReply answer;
    bool authorized = false;
    try {
        const PeerIdentity peer = parts_.authorizer.peer(connection.get());
        authorized = true;
        const NativeRequest request = NativeWire::receive<NativeRequest>(connection.get());
        answer = respond(request, peer);
    } catch (const std::exception& error) {
        answer = reply(false, NativeState::failed, error.what());
    }
    try {
        NativeWire::send(connection.get(), answer);
    } catch (...) {
        // The client is gone or stalled; there is nobody left to tell.
        return;
    }
    if (!authorized) closeGently(connection.get());
}

NativeReply VPNService::respond(const NativeRequest& request, const PeerIdentity& peer) {
    try {
        if (supervisor_.ownerUID && *supervisor_.ownerUID != peer.uid) {
            throw ServiceFailure::rejected(std::string(kPlatformTexts.anotherUserOwnsConnection));
        }
        if (supervisor_.ownerPID && *supervisor_.ownerPID == peer.pid) supervisor_.refreshHeartbeat();
        if (request.operation == NativeOperation::status) return status();
        if (request.operation == NativeOperation::disconnect) return disconnect();
        if (request.operation == NativeOperation::connect) return connect(request, peer);
        throw ServiceFailure::rejected(kUnsupportedOperation);
    } catch (const std::exception& error) {
        return reply(false, NativeState::failed, error.what());
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
        const std::string& failure = supervisor_.lastFailure;
        return reply(true, failure.empty() ? NativeState::stopped : NativeState::failed, failure);
    }
    const std::string tail = supervisor_.logTail();
    if (contains(tail, "AUTH_FAILED")) return reply(false, NativeState::failed, kStatusAuthenticationFailed);
    if (contains(tail, "VERIFY ERROR:") || contains(tail, "TLS Error:")) {
        return reply(false, NativeState::failed, kStatusVerificationFailed);
    }
    observation_ = TransportObservation::parse(tail, observation_);
    const std::optional<std::string> route = parts_.dns.routeInterface();
    NativeReply result;
    if (route && observation_.interface && *route == *observation_.interface && observation_.ready &&
        route->starts_with(kHostObservationLines.interfacePrefix)) {
        parts_.dns.tunnelUp(*route);
        result = reply(true, NativeState::connected);
        result.interface = route;
    } else {
        result = reply(true, NativeState::connecting, kStatusWaiting);
    }
    result.ownerPID = supervisor_.ownerPID;
    return result;
}

NativeReply VPNService::disconnect() {
    supervisor_.stop();
    supervisor_.lastFailure.clear();
    return reply(true, NativeState::stopped);
}

NativeReply VPNService::connect(const NativeRequest& request, const PeerIdentity& peer) {
    if (!request.profile || !request.expectedHost) throw ServiceFailure::rejected(kProfileMissing);
    // A refused profile leaves a running tunnel alone.
    const std::string configuration = parts_.configuration(*request.profile, *request.expectedHost);
    supervisor_.stop();
    supervisor_.lastFailure.clear();
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

}  // namespace orlune
