#pragma once

// The state-dependent texts and rules of the window, the home screen and the tray window, as
// plain functions of a few facts of the model. The view models feed them; tests read them.

#include <QDateTime>
#include <QString>

#include <chrono>
#include <optional>
#include <string_view>

#include "core/relay.h"
#include "model/connection_state.h"

namespace orlune::ui {

// What the rules look at, read from the model in one go.
struct ConnectionFacts {
    ConnectionState::Kind state = ConnectionState::Kind::disconnected;
    bool stopping = false;      // a disconnect is running
    bool offline = false;       // no physical network interface
    bool loading = false;       // a catalog refresh is running
    bool hasSelection = false;  // a relay is selected

    bool connected() const { return state == ConnectionState::Kind::connected; }
    bool connecting() const { return state == ConnectionState::Kind::connecting; }
    bool failed() const { return state == ConnectionState::Kind::failed; }
    bool busy() const { return connecting() || stopping; }
};

// Colour roles; the views map them onto the theme's colours.
namespace ColorRole {
inline const QString green = QStringLiteral("green");
inline const QString orange = QStringLiteral("orange");
inline const QString yellow = QStringLiteral("yellow");
inline const QString secondary = QStringLiteral("secondary");
}  // namespace ColorRole

// The code's letters as regional-indicator symbols: a country flag in an emoji font. Anything
// but two ASCII letters gives an empty text rather than a half flag.
QString flag(const QString& countryCode);
// "1 relay", "4 relays".
QString countText(qint64 count, const QString& singular, const QString& plural);

// The home screen's status banner.
QString statusTitle(const ConnectionFacts& facts);
QString statusColorRole(const ConnectionFacts& facts);

// The home screen's main button.
QString mainButtonLabel(const ConnectionFacts& facts);
bool mainButtonDisconnects(const ConnectionFacts& facts);
bool mainButtonEnabled(const ConnectionFacts& facts);
QString mainButtonTooltip(const ConnectionFacts& facts);
// Why the main button is disabled, written under it (a disabled button shows no tooltip);
// empty while it is enabled.
QString mainButtonDisabledReason(const ConnectionFacts& facts);
// The emblem's centre symbol.
QString emblemSymbol(const ConnectionFacts& facts);

// The tray window.
QString menuStatusLine(const ConnectionState& state, bool stopping, bool offline);
struct MenuActions {
    bool showConnect = false;  // "Connect" and "Quick Connect"; otherwise "Disconnect"
    bool connectEnabled = false;
    bool quickConnectEnabled = false;
    bool disconnectEnabled = false;
    bool refreshEnabled = false;
};
MenuActions menuActions(const ConnectionFacts& facts);

// The sidebar's catalog status line.
struct CatalogStatus {
    QString colorRole;
    QString text;
};
CatalogStatus catalogStatus(bool offline, bool loading);
// The same while the relays shown are the kept catalog of `keptAge` ("3 hours ago").
CatalogStatus catalogStatus(bool offline, bool loading, const std::optional<QString>& keptAge);

// A desktop notification for a new connection state; none for connecting.
struct Notification {
    QString title;
    QString body;
    friend bool operator==(const Notification&, const Notification&) = default;
};
std::optional<Notification> notificationFor(const ConnectionState& state);

// "HH:MM:SS" since `since`; a clock that went backwards shows zero.
QString durationText(const QDateTime& since, const QDateTime& now);

// Whether the window is dark: "Dark" forces dark, "System" follows the desktop, anything else
// is light.
bool isDarkAppearance(const QString& appearance, bool systemIsDark);

// Whether the window's periodic refresh should refresh now.
struct RefreshFacts {
    bool automaticRefreshEnabled = true;
    int refreshIntervalSeconds = 300;
    // Real time since the last successful refresh (none: never refreshed).
    std::optional<std::chrono::seconds> catalogAge;
    ConnectionState::Kind state = ConnectionState::Kind::disconnected;
};
bool periodicRefreshIsDue(const RefreshFacts& facts);

// Metric texts of a relay.
QString sessionsText(const Relay& relay);

// A sentence of the platform's wording table, for the screens.
inline QString platformText(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace orlune::ui
