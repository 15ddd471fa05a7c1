#include "ui/home_view_model.h"

#include <QVariantMap>

#include "model/app_model.h"

namespace orlune::ui {
namespace {

const QString kUnavailable = QStringLiteral("Unavailable");
const QString kNotSelected = QStringLiteral("Not selected");

QVariantMap row(const QString& label, const QString& value, bool muted = false) {
    muted = muted || value == kUnavailable || value == kNotSelected;
    return {{QStringLiteral("label"), label}, {QStringLiteral("value"), value}, {QStringLiteral("muted"), muted}};
}

}  // namespace

HomeViewModel::HomeViewModel(QObject* parent) : ShellBound(parent) {
    clock_.setInterval(1000);
    connect(&clock_, &QTimer::timeout, this, &HomeViewModel::tick);
    clock_.start();
}

void HomeViewModel::tick() {
    // Only the duration changes with time.
    if (ready() && model().connectionState().isConnected()) emit detailRowsChanged();
}

void HomeViewModel::attach(Shell& shell) {
    AppModel& m = shell.model();
    for (auto signal : {&AppModel::connectionStateChanged, &AppModel::isStoppingTunnelChanged,
                        &AppModel::offlineChanged, &AppModel::loadingChanged, &AppModel::selectedChanged,
                        &AppModel::selectedCountryCodeChanged, &AppModel::rankingsChanged,
                        &AppModel::catalogMessageChanged, &AppModel::publicIPChanged, &AppModel::measurementChanged}) {
        connect(&m, signal, this, &HomeViewModel::changed);
    }
    // The IPv6 notice follows the block settings.
    connect(&shell.preferences(), &Preferences::changed, this, &HomeViewModel::changed);
    connect(this, &HomeViewModel::changed, this, &HomeViewModel::detailRowsChanged);
}

ConnectionFacts HomeViewModel::facts() const {
    if (!ready()) return {};
    const AppModel& m = model();
    return {m.connectionState().kind, m.isStoppingTunnel(), m.offline(), m.loading(), m.selected().has_value()};
}

std::optional<Relay> HomeViewModel::displayedRelay() const {
    if (!ready()) return std::nullopt;
    if (model().connectionState().isConnected()) return model().connectionState().relay;
    return model().selected();
}

QString HomeViewModel::refreshLabel() const {
    return ready() && model().loading() ? QStringLiteral("Refreshing…") : QStringLiteral("Refresh");
}

bool HomeViewModel::refreshEnabled() const {
    return ready() && menuActions(facts()).refreshEnabled;
}

QString HomeViewModel::bannerLine() const {
    const auto relay = displayedRelay();
    if (!relay) return QStringLiteral("Choose a country here or browse servers to prepare a connection");
    return flag(relay->countryCode) + QStringLiteral("  ") + relay->country + " · " + relay->name;
}

bool HomeViewModel::showFailureCard() const {
    return facts().failed();
}

QString HomeViewModel::failureMessage() const {
    return showFailureCard() ? model().connectionState().text : QString();
}

bool HomeViewModel::stopEnabled() const {
    return ready() && !facts().stopping;
}
bool HomeViewModel::retryEnabled() const {
    return ready() && !facts().busy();
}

QString HomeViewModel::emblemMode() const {
    const ConnectionFacts f = facts();
    if (f.connected()) return QStringLiteral("connected");
    if (f.connecting()) return QStringLiteral("connecting");
    return QStringLiteral("idle");
}

QString HomeViewModel::progressText() const {
    return facts().connecting() ? model().connectionState().text : QString();
}

QString HomeViewModel::readyCaption() const {
    const ConnectionFacts f = facts();
    if (f.connected() || f.connecting() || !f.hasSelection) return {};
    return QStringLiteral("SERVER SELECTED · READY TO CONNECT");
}

QString HomeViewModel::selectionNote() const {
    const ConnectionFacts f = facts();
    if (f.connected() || f.connecting()) return {};
    return QStringLiteral("Selection is separate from an active VPN tunnel.");
}

bool HomeViewModel::showQuickConnect() const {
    const ConnectionFacts f = facts();
    return !f.connected() && !f.connecting();
}

bool HomeViewModel::quickConnectEnabled() const {
    return ready() && menuActions(facts()).quickConnectEnabled;
}

QString HomeViewModel::pickerFlag() const {
    return ready() ? flag(model().selectedCountryCode().value_or(QString())) : QString();
}

QString HomeViewModel::pickerName() const {
    if (!ready() || !model().selectedCountryCode()) return QStringLiteral("Choose a country");
    QString code = model().selectedCountryCode()->toUpper();
    for (const CountryChoice& choice : model().countryChoices()) {
        if (choice.code == code) return choice.name;
    }
    const auto& selected = model().selected();
    if (selected && selected->countryCode.toUpper() == code) return selected->country;
    return code;
}

QString HomeViewModel::pickerCount() const {
    if (!ready() || !model().selectedCountryCode()) return {};
    const QString code = model().selectedCountryCode()->toUpper();
    qint64 count = 0;
    for (const Relay& relay : model().recommendedRelays()) {
        if (relay.countryCode.toUpper() == code) ++count;
    }
    return QString::number(count) + QStringLiteral(" recommended");
}

bool HomeViewModel::pickerEnabled() const {
    if (!ready()) return false;
    const ConnectionFacts f = facts();
    // Choosing a country is ignored while a disconnect runs as well, so the picker says so.
    return !f.loading && !f.connected() && !f.busy() && !model().countryChoices().empty();
}

QString HomeViewModel::pickerReason() const {
    if (!ready() || pickerEnabled()) return {};
    const ConnectionFacts f = facts();
    if (f.connected()) return QStringLiteral("Disconnect to choose another country");
    if (f.busy()) return QStringLiteral("Wait until the connection attempt has ended");
    if (f.loading) return QStringLiteral("Loading the server list…");
    return QStringLiteral("No countries yet: refresh the server list");
}

QString HomeViewModel::pickerTooltip() const {
    return QStringLiteral("Choose a country; its current best listed relay is selected automatically");
}

QString HomeViewModel::pickerCaption() const {
    return QStringLiteral("Best provider-listed speed/ping relay · refreshes every 5 minutes");
}

QVariantList HomeViewModel::pickerEntries() const {
    QVariantList entries;
    if (!ready()) return entries;
    const QString selectedCode = model().selectedCountryCode().value_or(QString()).toUpper();
    for (const CountryChoice& choice : model().countryChoices()) {
        entries.append(
            QVariantMap{{QStringLiteral("code"), choice.code},
                        {QStringLiteral("text"),
                         flag(choice.code) + QStringLiteral("  ") + choice.name + " · " +
                             countText(choice.relayCount, QStringLiteral("relay"), QStringLiteral("relays"))},
                        {QStringLiteral("checked"), choice.code == selectedCode}});
    }
    return entries;
}

QString HomeViewModel::detailsHeading() const {
    return facts().connected() ? QStringLiteral("ACTIVE TUNNEL") : QStringLiteral("SERVER SELECTION");
}

QVariantList HomeViewModel::detailRows() const {
    if (!ready()) return {};
    const auto relay = displayedRelay();
    const ConnectionState& state = model().connectionState();
    const QString ping = relay ? relay->pingText() : kUnavailable;
    const QString protocol = relay ? relay->protocolText() : kUnavailable;
    if (state.isConnected()) {
        const QString original = model().originalPublicIP().value_or(kUnavailable);
        return {row(QStringLiteral("Verified exit country"), relay ? relay->country : kNotSelected),
                row(QStringLiteral("Connected server"), relay ? relay->name : kNotSelected),
                row(QStringLiteral("Protocol"), protocol),
                row(QStringLiteral("Provider ping"), ping),
                row(QStringLiteral("Download"), QStringLiteral("Unavailable from current provider"), true),
                row(QStringLiteral("Original IP → VPN IP"), original + QStringLiteral(" → ") + state.vpnIP),
                row(QStringLiteral("Connection duration"), durationText(state.since, shell()->now()))};
    }
    return {row(QStringLiteral("Selected country"), relay ? relay->country : kNotSelected),
            row(QStringLiteral("Selected server"), relay ? relay->name : kNotSelected),
            row(QStringLiteral("Protocol"), protocol),
            row(QStringLiteral("Provider ping"), ping),
            row(QStringLiteral("Provider speed"), relay ? relay->speedText() : kUnavailable),
            row(QStringLiteral("Original public IP"), model().publicIP().value_or(kUnavailable))};
}

QString HomeViewModel::detailsNote() const {
    const ConnectionFacts f = facts();
    if (f.connected()) {
        // What the tunnel delivered beside what the relay claims; nothing when it could not be told.
        const auto relay = displayedRelay();
        const auto& measurement = model().measurement();
        if (!relay || !measurement || measurement->relayId != relay->id) return {};
        const auto figures = measuredFigures(measurement->rttMilliseconds, measurement->throughputBitsPerSecond,
                                             relay->speedBitsPerSecond);
        if (!figures) return measurement->running ? QStringLiteral("Measuring the tunnel…") : QString();
        return QStringLiteral("Measured: ") + *figures +
               (measurement->running ? QStringLiteral(" · measuring…") : QString());
    }
    return f.offline ? QStringLiteral("No Internet Connection")
                     : QStringLiteral("Tunnel capability is checked when you connect.");
}

QString HomeViewModel::noticeSymbol() const {
    return facts().offline ? QStringLiteral("wifi.slash") : QStringLiteral("exclamationmark.shield.fill");
}

QString HomeViewModel::noticeTitle() const {
    return facts().offline ? QStringLiteral("No Internet Connection")
                           : QStringLiteral("Community relay privacy varies");
}

QStringList HomeViewModel::noticeParagraphs() const {
    const bool ipv6Blocked = ready() && model().leakProtection().any();
    const QString ipv6 = ipv6Blocked ? QStringLiteral(
                                           "This VPN protects IPv4. IPv6 is blocked while connected, so it cannot "
                                           "bypass the VPN.")
                                     : QStringLiteral(
                                           "This VPN protects IPv4. IPv6 remains available for hotspot "
                                           "compatibility and may bypass the VPN.");
    if (ready() && model().catalogMessage()) return {ipv6, *model().catalogMessage()};
    return {ipv6, QStringLiteral("VPN Gate relays are run by independent volunteers. Orlune does not own or operate "
                                 "them. VPN Gate documents connection logging, including source IP and connection "
                                 "metadata.")};
}

void HomeViewModel::refresh() {
    if (refreshEnabled()) model().requestRefresh();
}

void HomeViewModel::mainAction() {
    if (!mainButtonEnabled()) return;
    if (mainButtonDisconnects(facts())) {
        model().requestDisconnect();
    } else {
        model().requestConnect();
    }
}

void HomeViewModel::stop() {
    if (stopEnabled()) model().requestDisconnect();
}

void HomeViewModel::retry() {
    if (retryEnabled()) model().requestRetry();
}

void HomeViewModel::chooseAnotherServer() {
    if (ready()) model().setPage(QStringLiteral("Servers"));
}

void HomeViewModel::browseServers() {
    chooseAnotherServer();
}

void HomeViewModel::quickConnect() {
    if (showQuickConnect() && quickConnectEnabled()) model().requestQuickConnect();
}

void HomeViewModel::chooseCountry(const QString& code) {
    if (pickerEnabled()) model().chooseCountry(code);
}

}  // namespace orlune::ui
