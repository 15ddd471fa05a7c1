#include "ui/info_view_models.h"

#include <QVariantMap>

#include "model/app_model.h"
#include "texts/platform_texts.h"
#include "ui/presentation.h"

namespace orlune::ui {
namespace {

const QString kUnavailable = QStringLiteral("Unavailable");
const QString kNoByteCounters = QStringLiteral("Unavailable from current provider");

// A value that is not a live figure (unavailable, or never measured) is marked muted.
QVariantMap tile(const QString& symbol, const QString& label, const QString& value) {
    return {{QStringLiteral("symbol"), symbol},
            {QStringLiteral("label"), label},
            {QStringLiteral("value"), value},
            {QStringLiteral("muted"), value == kUnavailable || value == kNoByteCounters}};
}

QVariantList linkList(const QList<Link>& links) {
    QVariantList list;
    for (const Link& link : links) {
        list.append(QVariantMap{{QStringLiteral("title"), link.title}, {QStringLiteral("url"), link.url.toString()}});
    }
    return list;
}

void open(const Shell* shell, const QList<Link>& links, int index) {
    if (!shell || index < 0 || index >= links.size() || !shell->services().openUrl) return;
    shell->services().openUrl(links[index].url);
}

}  // namespace

// Statistics.

StatisticsViewModel::StatisticsViewModel(QObject* parent) : ShellBound(parent) {
    clock_.setInterval(1000);
    connect(&clock_, &QTimer::timeout, this, &StatisticsViewModel::tick);
    connect(this, &StatisticsViewModel::changed, this, &StatisticsViewModel::tilesChanged);
    clock_.start();
}

void StatisticsViewModel::attach(Shell& shell) {
    connect(&shell.model(), &AppModel::connectionStateChanged, this, &StatisticsViewModel::changed);
    connect(&shell.model(), &AppModel::measurementChanged, this, &StatisticsViewModel::changed);
}

void StatisticsViewModel::tick() {
    // Only the duration moves with time.
    if (connected()) emit tilesChanged();
}

bool StatisticsViewModel::connected() const {
    const ConnectionState* state = ready() ? &model().connectionState() : nullptr;
    return state && state->isConnected() && state->relay;
}

QString StatisticsViewModel::subtitle() const {
    return connected() ? QStringLiteral("Live session details from the active tunnel.")
                       : QStringLiteral("Statistics are unavailable until a real tunnel is active.");
}

QVariantList StatisticsViewModel::tiles() const {
    QString duration = kUnavailable, server = kUnavailable, country = kUnavailable, measured = kUnavailable;
    QString upload = kUnavailable, download = kUnavailable;
    if (connected()) {
        const ConnectionState& state = model().connectionState();
        const Relay& relay = *state.relay;
        duration = durationText(state.since, shell()->now());
        server = relay.name;
        country = flag(relay.countryCode) + QLatin1Char(' ') + relay.country + QStringLiteral(" · OpenVPN");
        const auto& measurement = model().measurement();
        if (measurement && measurement->relayId == relay.id) {
            const auto figures = measuredFigures(measurement->rttMilliseconds, measurement->throughputBitsPerSecond,
                                                 relay.speedBitsPerSecond);
            measured = figures ? *figures : measurement->running ? QStringLiteral("Measuring…") : kUnavailable;
        }
        upload = download = kNoByteCounters;
    }
    return {tile(QStringLiteral("clock"), QStringLiteral("Connection duration"), duration),
            tile(QStringLiteral("server.rack"), QStringLiteral("Current server"), server),
            tile(QStringLiteral("globe.americas"), QStringLiteral("Country and protocol"), country),
            tile(QStringLiteral("waveform.path"), QStringLiteral("Measured through the tunnel"), measured),
            tile(QStringLiteral("arrow.up"), QStringLiteral("Upload"), upload),
            tile(QStringLiteral("arrow.down"), QStringLiteral("Download"), download)};
}

// Help & Support.

QVariantList HelpViewModel::cards() const {
    QVariantList list;
    for (const HelpCard& card : helpCards()) {
        list.append(QVariantMap{{QStringLiteral("symbol"), card.symbol},
                                {QStringLiteral("title"), card.title},
                                {QStringLiteral("text"), card.text}});
    }
    return list;
}

QVariantList HelpViewModel::links() const {
    return linkList(helpLinks());
}

QString HelpViewModel::diagnosticsNote() const {
    return platformText(kPlatformTexts.diagnosticsNote);
}

QString HelpViewModel::copyLabel() const {
    return copied_ ? QStringLiteral("Diagnostics Copied") : QStringLiteral("Copy Safe Diagnostics");
}

QString HelpViewModel::copySymbol() const {
    return copied_ ? QStringLiteral("checkmark") : QStringLiteral("doc.on.doc");
}

DiagnosticsFacts HelpViewModel::diagnosticsFacts() const {
    DiagnosticsFacts facts;
    if (!ready()) return facts;
    const DesktopServices& services = shell()->services();
    facts.version = services.identity.version;
    facts.build = services.identity.build;
    facts.operatingSystem = services.operatingSystem ? services.operatingSystem() : QString();
    facts.serviceAvailable = services.serviceAvailable && services.serviceAvailable();
    facts.catalogServers = qsizetype(model().relays().size());
    facts.offline = model().offline();
    return facts;
}

void HelpViewModel::copyDiagnostics() {
    if (!ready()) return;
    if (const auto& copy = shell()->services().copyText) copy(safeDiagnostics(diagnosticsFacts()));
    if (!copied_) {
        copied_ = true;
        emit copiedChanged();
    }
}

void HelpViewModel::openLink(int index) {
    open(shell(), helpLinks(), index);
}

// About.

QString AboutViewModel::versionText() const {
    const auto& version = ready() ? shell()->services().identity.version : std::nullopt;
    return QStringLiteral("Version ") +
           (version && !version->trimmed().isEmpty() ? *version : QStringLiteral("Development"));
}

QVariantList AboutViewModel::links() const {
    return linkList(aboutLinks());
}

QString AboutViewModel::selectedDocument() const {
    return selected_ ? legalDocument(*selected_).identity : QString();
}

QVariantMap AboutViewModel::document() const {
    if (!selected_) return {};
    const LegalDocument doc = legalDocument(*selected_);
    QVariantList sections;
    for (const LegalSection& section : doc.sections) {
        sections.append(QVariantMap{{QStringLiteral("title"), section.title},
                                    {QStringLiteral("text"), section.text},
                                    {QStringLiteral("links"), linkList(section.links)}});
    }
    return {{QStringLiteral("identity"), doc.identity},
            {QStringLiteral("title"), doc.title},
            {QStringLiteral("lastUpdated"), doc.lastUpdated},
            {QStringLiteral("sections"), sections}};
}

void AboutViewModel::showDocument(const QString& identity) {
    const auto document = aboutDocument(identity);
    if (document == selected_) return;
    selected_ = document;
    emit selectedDocumentChanged();
}

void AboutViewModel::closeDocument() {
    showDocument(QString());
}

void AboutViewModel::openLink(int index) {
    open(shell(), aboutLinks(), index);
}

void AboutViewModel::openDocumentLink(int section, int index) {
    if (!selected_) return;
    const LegalDocument doc = legalDocument(*selected_);
    if (section < 0 || section >= doc.sections.size()) return;
    open(shell(), doc.sections[section].links, index);
}

QString StatisticsViewModel::historyNote() const {
    return QStringLiteral(
        "No traffic history is retained. Upload and download totals require tunnel byte counters, "
        "which are not present in this build.");
}

QString AboutViewModel::ownershipText() const {
    return QStringLiteral(
        "Independent Orlune application. VPN Gate relays are operated by third parties; Orlune does not own them.");
}

QString AboutViewModel::updatesText() const {
    return QStringLiteral(
        "The app checks current relay data when refreshed. Automatic software update delivery is "
        "not configured in this development build.");
}

}  // namespace orlune::ui
