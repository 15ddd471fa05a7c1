#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

#include "core/relay.h"

namespace orlune {

// The connection state machine's value: equal when the case and every value are equal.
struct ConnectionState {
    enum class Kind { disconnected, connecting, connected, failed };

    Kind kind = Kind::disconnected;
    QString text;                // connecting: the progress line; failed: the message
    QDateTime since;             // connected only
    std::optional<Relay> relay;  // connected only
    QString vpnIP;               // connected only

    static ConnectionState disconnected() { return {}; }
    static ConnectionState connecting(QString line) { return {Kind::connecting, std::move(line), {}, {}, {}}; }
    static ConnectionState failed(QString message) { return {Kind::failed, std::move(message), {}, {}, {}}; }
    static ConnectionState connected(QDateTime since, Relay relay, QString vpnIP) {
        return {Kind::connected, {}, std::move(since), std::move(relay), std::move(vpnIP)};
    }

    bool isConnecting() const { return kind == Kind::connecting; }
    bool isConnected() const { return kind == Kind::connected; }
    bool isFailed() const { return kind == Kind::failed; }
    bool isDisconnected() const { return kind == Kind::disconnected; }

    // "disconnected", "connecting", "connected" or "failed".
    QString name() const;

    friend bool operator==(const ConnectionState&, const ConnectionState&) = default;
};

inline QString ConnectionState::name() const {
    switch (kind) {
    case Kind::connecting:
        return QStringLiteral("connecting");
    case Kind::connected:
        return QStringLiteral("connected");
    case Kind::failed:
        return QStringLiteral("failed");
    case Kind::disconnected:
        break;
    }
    return QStringLiteral("disconnected");
}

}  // namespace orlune
