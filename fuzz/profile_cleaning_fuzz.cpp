// Arbitrary bytes as a relay's profile, as the catalog carries it (Base64) and as decoded text.
// The clean-up gives a profile or the tunnel's own error; an accepted profile has exactly one
// remote outside its inline blocks, and that remote is the relay's address.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "catalog/profile_cleaning.h"
#include "core/relay.h"
#include "core/tunnel_error.h"

namespace {

[[noreturn]] void violated(const char* what) {
    std::fprintf(stderr, "profile clean-up property violated: %s\n", what);
    std::abort();
}

orlune::Relay fuzzRelay() {
    orlune::Relay relay;
    relay.name = QStringLiteral("public-vpn-101");
    relay.hostname = QStringLiteral("198.51.100.11");
    relay.id = relay.name + u'-' + relay.hostname;
    relay.country = QStringLiteral("Japan");
    relay.countryCode = QStringLiteral("JP");
    relay.supportsOpenVPN = true;
    return relay;
}

void clean(const QString& profile) {
    static const orlune::Relay relay = fuzzRelay();
    QString cleaned;
    try {
        cleaned = orlune::cleanedProfile(profile, relay);
    } catch (const orlune::TunnelError&) {
        return;
    }
    // Lines inside inline blocks are the block's content to the engine, never directives.
    int remotes = 0;
    bool inBlock = false;
    for (const QString& line : cleaned.split(u'\n')) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(u'<') && trimmed.endsWith(u'>')) {
            inBlock = !trimmed.startsWith(u"</");
            continue;
        }
        if (inBlock) continue;
        const QStringList words = line.simplified().split(u' ', Qt::SkipEmptyParts);
        if (words.value(0) != u"remote") continue;
        ++remotes;
        if (words.value(1) != relay.hostname) violated("a remote other than the relay's address");
    }
    if (remotes != 1) violated("not exactly one remote");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    if (data[0] & 1) {
        try {
            clean(orlune::decodeProfile(QString::fromLatin1(bytes)));
        } catch (const orlune::TunnelError&) {
        }
    } else {
        clean(QString::fromUtf8(bytes));
    }
    return 0;
}
