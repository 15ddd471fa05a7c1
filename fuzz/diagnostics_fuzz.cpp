// Arbitrary text as the outside-made parts of the diagnostics text (the system's description,
// the version and the build). Nothing crashes; the result holds no address, dotted IPv4 or
// IPv6, and scrubbing it again changes nothing.
#include <QString>

#include <cstdint>
#include <cstdlib>

#include "ui/diagnostics.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString scrubbed = orlune::ui::withoutAddresses(text);
    if (orlune::ui::containsAddress(scrubbed)) std::abort();
    if (orlune::ui::withoutAddresses(scrubbed) != scrubbed) std::abort();

    orlune::ui::DiagnosticsFacts facts;
    facts.operatingSystem = text;
    facts.version = text.left(text.size() / 2);
    facts.build = text.mid(text.size() / 2);
    if (orlune::ui::containsAddress(orlune::ui::safeDiagnostics(facts))) std::abort();
    return 0;
}
