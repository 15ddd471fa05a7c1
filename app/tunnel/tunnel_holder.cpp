#include "tunnel/tunnel_holder.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "core/tunnel_error.h"

namespace orlune {
namespace {

// The program file's name; a replaced file reads "name (deleted)".
std::string programName(const std::string& process) {
    std::error_code error;
    std::string target = std::filesystem::read_symlink("/proc/" + process + "/exe", error).filename().string();
    if (error) return {};
    constexpr std::string_view deleted = " (deleted)";
    if (target.ends_with(deleted)) target.resize(target.size() - deleted.size());
    return target;
}

// The window runs without arguments; every command line has one.
bool runsWithoutArguments(std::int32_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto end = text.find('\0');
    return end == std::string::npos || end + 1 >= text.size();
}

}  // namespace

std::optional<TunnelHolder> otherLiveHolder(const NativeReply& status) {
    if (!status.ok || !status.ownerPID || *status.ownerPID <= 0 || *status.ownerPID == ::getpid()) {
        return std::nullopt;
    }
    if (status.state != NativeState::connecting && status.state != NativeState::connected) return std::nullopt;
    const std::string own = programName("self");
    // A zombie, an ended process or another program under a reused number holds nothing.
    if (own.empty() || programName(std::to_string(*status.ownerPID)) != own) return std::nullopt;
    return TunnelHolder{*status.ownerPID, runsWithoutArguments(*status.ownerPID)};
}

QString describeHolder(const TunnelHolder& holder) {
    const QString process = QStringLiteral(" (process %1)").arg(holder.pid);
    return holder.window ? QStringLiteral("the Orlune VPN window") + process
                         : QStringLiteral("the command line \"orlune-vpn connect\"") + process;
}

SharedTunnelGuard::SharedTunnelGuard(std::unique_ptr<TunnelConnectionProvider> inner, std::string socketPath)
    : inner_(std::move(inner)), channel_(std::move(socketPath)) {}

QCoro::Task<std::optional<TunnelHolder>> SharedTunnelGuard::holder() {
    std::error_code error;
    if (!std::filesystem::exists(channel_.socketPath(), error)) co_return std::nullopt;
    NativeRequest status;
    status.operation = std::string(NativeOperation::status);
    try {
        const NativeReply reply = co_await channel_.request(std::move(status));
        co_return otherLiveHolder(reply);
    } catch (...) {
        // The wrapped provider meets the same fault and reports it.
        co_return std::nullopt;
    }
}

QCoro::Task<TunnelVerification> SharedTunnelGuard::connect(Relay relay, std::optional<QString> originalIP,
                                                           Progress progress) {
    if (const auto held = co_await holder()) {
        // Not the relay's fault: a kind that hides no relay and tries no other.
        throw TunnelError::backendCommandFailed(
            ("The VPN tunnel is held by " + describeHolder(*held) + "; disconnect it there first.").toStdString());
    }
    co_return co_await inner_->connect(std::move(relay), std::move(originalIP), std::move(progress));
}

QCoro::Task<void> SharedTunnelGuard::disconnect() {
    co_await inner_->disconnect();
}

QCoro::Task<void> SharedTunnelGuard::recoverStaleConnections() {
    if (const auto held = co_await holder()) {
        throw TunnelHeldElsewhere(
            ("A VPN tunnel is up, held by " + describeHolder(*held) + "; it is left running. Disconnect it there.")
                .toStdString());
    }
    co_await inner_->recoverStaleConnections();
}

QCoro::Task<bool> SharedTunnelGuard::isTunnelActive() {
    co_return co_await inner_->isTunnelActive();
}

// Forwarded, not left to the default: only the wrapped provider can tell a stop asked for
// elsewhere from a loss.
QCoro::Task<TunnelHealth> SharedTunnelGuard::tunnelHealth() {
    co_return co_await inner_->tunnelHealth();
}

QCoro::Task<std::optional<QString>> SharedTunnelGuard::engineVersion() {
    co_return co_await inner_->engineVersion();
}

}  // namespace orlune
