#include "ui/presentation.h"

#include <algorithm>

namespace orlune::ui {

using Kind = ConnectionState::Kind;

QString flag(const QString& countryCode) {
    const QString code = countryCode.toUpper();
    if (code.size() != 2) return {};
    QString result;
    for (QChar letter : code) {
        if (letter < u'A' || letter > u'Z') return {};
        const char32_t symbol = char32_t(letter.unicode()) + 127397;
        result += QString::fromUcs4(&symbol, 1);
    }
    return result;
}

QString countText(qint64 count, const QString& singular, const QString& plural) {
    return QString::number(count) + u' ' + (count == 1 ? singular : plural);
}

QString statusTitle(const ConnectionFacts& facts) {
    if (facts.stopping) return QStringLiteral("RESTORING NORMAL INTERNET ROUTE");
    switch (facts.state) {
    case Kind::connecting:
        return QStringLiteral("CONNECTING…");
    case Kind::connected:
        return QStringLiteral("CONNECTED");
    case Kind::failed:
        return QStringLiteral("CONNECTION FAILED");
    case Kind::disconnected:
        break;
    }
    return facts.offline ? QStringLiteral("NO INTERNET CONNECTION") : QStringLiteral("DISCONNECTED");
}

QString statusColorRole(const ConnectionFacts& facts) {
    // Stopping outranks the state it stops: the route is not yet back to normal.
    if (facts.stopping) return ColorRole::orange;
    if (facts.connected()) return ColorRole::green;
    if (facts.state == Kind::disconnected && !facts.offline) return ColorRole::secondary;
    return ColorRole::orange;
}

QString mainButtonLabel(const ConnectionFacts& facts) {
    if (facts.stopping) return QStringLiteral("RESTORING INTERNET…");
    if (facts.connected()) return QStringLiteral("DISCONNECT");
    if (facts.connecting()) return QStringLiteral("STOP & RESTORE INTERNET");
    return QStringLiteral("CONNECT");
}

bool mainButtonDisconnects(const ConnectionFacts& facts) {
    return facts.connected() || facts.connecting() || facts.stopping;
}

bool mainButtonEnabled(const ConnectionFacts& facts) {
    if (facts.stopping) return false;
    if (facts.connected() || facts.connecting()) return true;
    return facts.hasSelection && !facts.offline;
}

QString mainButtonTooltip(const ConnectionFacts& facts) {
    if (mainButtonDisconnects(facts)) {
        return QStringLiteral("Stop Orlune's tunnel and restore the normal Wi-Fi/Ethernet route");
    }
    if (!facts.hasSelection) return QStringLiteral("Select a server first");
    if (facts.failed()) return QStringLiteral("Retry the failed VPN connection");
    return QStringLiteral("Attempt a real VPN connection");
}

QString mainButtonDisabledReason(const ConnectionFacts& facts) {
    if (mainButtonEnabled(facts)) return {};
    if (facts.stopping) return QStringLiteral("Wait until the tunnel has stopped");
    if (!facts.hasSelection) return QStringLiteral("Select a server first");
    return QStringLiteral("No Internet connection");
}

QString emblemSymbol(const ConnectionFacts& facts) {
    if (facts.connected()) return QStringLiteral("checkmark.shield.fill");
    if (facts.connecting()) return QStringLiteral("arrow.trianglehead.2.clockwise.rotate.90");
    return QStringLiteral("power");
}

QString menuStatusLine(const ConnectionState& state, bool stopping, bool offline) {
    if (stopping) return QStringLiteral("Stopping tunnel · restoring normal route");
    switch (state.kind) {
    case Kind::connecting:
        return state.text;
    case Kind::connected:
        return QStringLiteral("Connected · ") + (state.relay ? state.relay->country : QString());
    case Kind::failed:
        return QStringLiteral("Connection failed");
    case Kind::disconnected:
        break;
    }
    return offline ? QStringLiteral("No Internet Connection") : QStringLiteral("Disconnected");
}

MenuActions menuActions(const ConnectionFacts& facts) {
    MenuActions actions;
    actions.showConnect = !facts.connected() && !facts.stopping && !facts.busy() && !facts.failed();
    actions.connectEnabled = !facts.busy() && !facts.offline;
    actions.quickConnectEnabled = !facts.busy() && !facts.offline && !facts.loading;
    actions.disconnectEnabled = !facts.stopping;
    actions.refreshEnabled = !facts.loading && !facts.busy();
    return actions;
}

CatalogStatus catalogStatus(bool offline, bool loading) {
    if (offline) return {ColorRole::orange, QStringLiteral("No Internet Connection")};
    if (loading) return {ColorRole::yellow, QStringLiteral("Updating catalog…")};
    return {ColorRole::green, QStringLiteral("Catalog current")};
}

CatalogStatus catalogStatus(bool offline, bool loading, const std::optional<QString>& keptAge) {
    if (offline || loading || !keptAge) return catalogStatus(offline, loading);
    return {ColorRole::orange, QStringLiteral("Catalog from %1").arg(*keptAge)};
}

std::optional<Notification> notificationFor(const ConnectionState& state) {
    switch (state.kind) {
    case Kind::connecting:
        return std::nullopt;
    case Kind::connected: {
        const QString country = state.relay ? state.relay->country : QString();
        const QString name = state.relay ? state.relay->name : QString();
        return Notification{QStringLiteral("Orlune VPN connected"),
                            "Verified tunnel to " + country + " · " + name + "."};
    }
    case Kind::failed:
        return Notification{QStringLiteral("Orlune VPN connection failed"), state.text};
    case Kind::disconnected:
        break;
    }
    return Notification{QStringLiteral("Orlune VPN disconnected"), QStringLiteral("The VPN tunnel is disconnected.")};
}

QString durationText(const QDateTime& since, const QDateTime& now) {
    const qint64 seconds = std::max<qint64>(0, since.secsTo(now));
    return QString::asprintf("%02lld:%02lld:%02lld", seconds / 3600, (seconds / 60) % 60, seconds % 60);
}

bool isDarkAppearance(const QString& appearance, bool systemIsDark) {
    if (appearance == QLatin1String("System")) return systemIsDark;
    return appearance == QLatin1String("Dark");
}

bool periodicRefreshIsDue(const RefreshFacts& facts) {
    if (!facts.automaticRefreshEnabled) return false;
    if (facts.state != Kind::failed && facts.state != Kind::disconnected) return false;
    if (!facts.catalogAge) return true;
    const qint64 interval = std::max(facts.refreshIntervalSeconds, 60);
    return facts.catalogAge->count() >= interval;
}

QString sessionsText(const Relay& relay) {
    return relay.sessions ? QString::number(*relay.sessions) : QStringLiteral("Unavailable");
}

}  // namespace orlune::ui
