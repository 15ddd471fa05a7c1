// Arbitrary text as the outside-made parts of the diagnostics text (the system's description,
// the version and the build). Nothing crashes; the result holds no dotted IPv4 address, and
// scrubbing it again changes nothing: no address is left for the scrubber to find.
#include <QRegularExpression>
#include <QString>

#include <cstdint>
#include <cstdlib>

#include "ui/diagnostics.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QRegularExpression dottedQuad(
        QStringLiteral("(?<![0-9])[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}(?![0-9])"));
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString scrubbed = orlune::ui::withoutAddresses(text);
    if (scrubbed.contains(dottedQuad)) std::abort();
    if (orlune::ui::withoutAddresses(scrubbed) != scrubbed) std::abort();

    orlune::ui::DiagnosticsFacts facts;
    facts.operatingSystem = text;
    facts.version = text.left(text.size() / 2);
    facts.build = text.mid(text.size() / 2);
    const QString diagnostics = orlune::ui::safeDiagnostics(facts);
    if (diagnostics.contains(dottedQuad)) std::abort();
    return 0;
}
