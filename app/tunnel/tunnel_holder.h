#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "control/native_messages.h"
#include "control/native_paths.h"
#include "core/tunnel_connection_provider.h"
#include "core/tunnel_held_elsewhere.h"
#include "tunnel/control_channel.h"

namespace orlune {

// Another live process of this program (the window or a command line) that holds the tunnel.
// The service answers only its owner's user, so a holder it names is always this user's.
struct TunnelHolder {
    std::int32_t pid = 0;
    bool window = false;
};

// The holder a status reply names, when it is a live process of this program other than this
// one; nothing for a stopped tunnel, a gone owner or a reused process number.
std::optional<TunnelHolder> otherLiveHolder(const NativeReply& status);

// "the Orlune VPN window (process 123)" or "the command line "orlune-vpn connect" (process 123)".
QString describeHolder(const TunnelHolder& holder);

// Keeps one process from undoing another's tunnel: the start-up recovery stops only a tunnel
// nobody alive holds, and a connect refuses while another process holds one. Everything else
// goes to the wrapped provider unchanged.
class SharedTunnelGuard : public TunnelConnectionProvider {
public:
    explicit SharedTunnelGuard(std::unique_ptr<TunnelConnectionProvider> inner,
                               std::string socketPath = std::string(NativePaths::socket));

    QCoro::Task<TunnelVerification> connect(Relay relay, std::optional<QString> originalIP, Progress progress) override;
    QCoro::Task<void> disconnect() override;
    QCoro::Task<void> recoverStaleConnections() override;
    QCoro::Task<bool> isTunnelActive() override;
    QCoro::Task<TunnelHealth> tunnelHealth() override;
    QCoro::Task<std::optional<QString>> engineVersion() override;
    void setLeakProtection(LeakProtection protection) override { inner_->setLeakProtection(protection); }
    bool holdsBlock() const override { return inner_->holdsBlock(); }
    void useKeptProfile(const QString& relayId, const QString& profile) override {
        inner_->useKeptProfile(relayId, profile);
    }

private:
    QCoro::Task<std::optional<TunnelHolder>> holder();

    std::unique_ptr<TunnelConnectionProvider> inner_;
    ControlChannel channel_;
};

}  // namespace orlune
