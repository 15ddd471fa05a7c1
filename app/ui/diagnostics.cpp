#include "ui/diagnostics.h"

#include <QHostAddress>
#include <QRegularExpression>

#include "texts/platform_texts.h"
#include "ui/presentation.h"

namespace orlune::ui {
namespace {

const QString kRemoved = QStringLiteral("[address removed]");

QString orUnknown(const std::optional<QString>& value) {
    return value && !value->trimmed().isEmpty() ? withoutAddresses(*value) : QStringLiteral("unknown");
}

}  // namespace

namespace {

const QRegularExpression& dottedQuad() {
    static const QRegularExpression expression(
        QStringLiteral("(?<![0-9])[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}(?![0-9])"));
    return expression;
}

// Whether a run of hex digits and colons is an IPv6 address, once a lone colon at either end
// (the one of "IP:" or of "fe80::1: up") is left out.
bool isIPv6(QStringView run) {
    if (run.startsWith(u':') && !run.startsWith(u"::")) run = run.mid(1);
    if (run.endsWith(u':') && !run.endsWith(u"::")) run.chop(1);
    return run.count(u':') >= 2 && QHostAddress().setAddress(run.toString());
}

const QRegularExpression& hexRun() {
    static const QRegularExpression expression(QStringLiteral("[0-9A-Fa-f:]*:[0-9A-Fa-f:]*"));
    return expression;
}

}  // namespace

bool containsAddress(const QString& text) {
    if (text.contains(dottedQuad())) return true;
    auto it = hexRun().globalMatch(text);
    while (it.hasNext()) {
        if (isIPv6(it.next().capturedView())) return true;
    }
    return false;
}

QString withoutAddresses(const QString& text) {
    // Candidates: runs of hex digits, dots and colons with at least one dot or colon, and an
    // IPv6 zone ("%eth0") when one follows. A candidate goes whole when any part of it is an
    // address: an IPv6 address, or four dotted decimal numbers of at most three digits
    // ("6.1.0.28" in a kernel release reads as an address to anyone). Full stops at its end
    // stay: they end the sentence.
    static const QRegularExpression candidate(QStringLiteral("[0-9A-Fa-f:.]*[:.][0-9A-Fa-f:.]*(%[A-Za-z0-9]+)?"));
    QString result;
    qsizetype last = 0;
    auto it = candidate.globalMatch(text);
    while (it.hasNext()) {
        const auto match = it.next();
        const QString piece = match.captured();
        qsizetype end = piece.size();
        while (end > 0 && piece[end - 1] == QLatin1Char('.')) --end;
        result += text.mid(last, match.capturedStart() - last);
        result += containsAddress(piece.left(end).section(QLatin1Char('%'), 0, 0)) ? kRemoved + piece.mid(end) : piece;
        last = match.capturedEnd();
    }
    result += text.mid(last);
    // A zone can split a dotted address between two candidates ("fe80::%e5.4.0.12"), or end a
    // candidate in the middle of an IPv6 address ("1:2:3:4%3:4:5:6:7:6:7:8"): whatever the whole
    // text still shows as an address goes too.
    result.replace(dottedQuad(), kRemoved);
    QString whole;
    last = 0;
    it = hexRun().globalMatch(result);
    while (it.hasNext()) {
        const auto match = it.next();
        if (!isIPv6(match.capturedView())) continue;
        whole += result.mid(last, match.capturedStart() - last) + kRemoved;
        last = match.capturedEnd();
    }
    return whole + result.mid(last);
}

QString safeDiagnostics(const DiagnosticsFacts& facts) {
    QString text = QStringLiteral("Orlune VPN diagnostics\nVersion: ");
    text += orUnknown(facts.version);
    text += QStringLiteral(" (") + orUnknown(facts.build) + QStringLiteral(")\n");
    text += platformText(kPlatformTexts.diagnosticsOSPrefix);
    text += withoutAddresses(facts.operatingSystem);
    text += QStringLiteral("\nVPN service available: ") +
            (facts.serviceAvailable ? QStringLiteral("yes") : QStringLiteral("no"));
    text += QStringLiteral("\nCatalog servers: ") + QString::number(facts.catalogServers);
    text += QStringLiteral("\nInternet: ") + (facts.offline ? QStringLiteral("offline") : QStringLiteral("available"));
    text += QStringLiteral("\n\nNo IP address, password, profile, or browsing data included.");
    return text;
}

}  // namespace orlune::ui
