#include "ui/diagnostics.h"

#include <QHostAddress>
#include <QRegularExpression>

#include "texts/platform_texts.h"

namespace orlune::ui {
namespace {

const QString kRemoved = QStringLiteral("[address removed]");

QString orUnknown(const std::optional<QString>& value) {
    return value && !value->trimmed().isEmpty() ? withoutAddresses(*value) : QStringLiteral("unknown");
}

}  // namespace

QString withoutAddresses(const QString& text) {
    // Candidates: runs of hex digits, dots and colons (IPv6 may embed a dotted IPv4 tail and a
    // zone after "%"). Each is kept unless the address parser accepts it, or a dotted part of it
    // that is four decimal numbers of at most three digits: "6.1.0.28" in a kernel release reads
    // as an address to anyone, so it goes too.
    static const QRegularExpression candidate(QStringLiteral("[0-9A-Fa-f:.]*[:.][0-9A-Fa-f:.]*(%[A-Za-z0-9]+)?"));
    static const QRegularExpression dottedQuad(
        QStringLiteral("(?<![0-9])[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}(?![0-9])"));
    QString result;
    qsizetype last = 0;
    auto it = candidate.globalMatch(text);
    while (it.hasNext()) {
        const auto match = it.next();
        QString piece = match.captured();
        QString address = piece.section(QLatin1Char('%'), 0, 0);
        QString after;  // a full stop after it belongs to the sentence
        while (address.endsWith(QLatin1Char('.')) && !piece.contains(QLatin1Char('%'))) {
            address.chop(1);
            after += QLatin1Char('.');
        }
        if (address.count(QLatin1Char(':')) >= 2 && QHostAddress().setAddress(address)) {
            piece = kRemoved + after;
        } else {
            piece.replace(dottedQuad, kRemoved);
        }
        result += text.mid(last, match.capturedStart() - last) + piece;
        last = match.capturedEnd();
    }
    return result + text.mid(last);
}

QString safeDiagnostics(const DiagnosticsFacts& facts) {
    QString text = QStringLiteral("Orlune VPN diagnostics\nVersion: ");
    text += orUnknown(facts.version);
    text += QStringLiteral(" (") + orUnknown(facts.build) + QStringLiteral(")\n");
    text += QString::fromUtf8(kPlatformTexts.diagnosticsOSPrefix.data(), qsizetype(kPlatformTexts.diagnosticsOSPrefix.size()));
    text += withoutAddresses(facts.operatingSystem);
    text += QStringLiteral("\nVPN service available: ") + (facts.serviceAvailable ? QStringLiteral("yes") : QStringLiteral("no"));
    text += QStringLiteral("\nCatalog servers: ") + QString::number(facts.catalogServers);
    text += QStringLiteral("\nInternet: ") + (facts.offline ? QStringLiteral("offline") : QStringLiteral("available"));
    text += QStringLiteral("\n\nNo IP address, password, profile, or browsing data included.");
    return text;
}

}  // namespace orlune::ui
