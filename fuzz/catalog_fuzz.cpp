// Arbitrary bytes as a catalog answer, which comes from the network. Parsing gives relays or the
// catalog's own error, never a crash; every relay has an id made of its name and address and
// comes in the one recommended order; and asking for a listed relay's profile gives a profile or
// the tunnel's own error.
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "catalog/catalog_error.h"
#include "catalog/catalog_parsing.h"
#include "catalog/csv_reader.h"
#include "core/tunnel_error.h"

namespace {

[[noreturn]] void violated(const char* what) {
    std::fprintf(stderr, "catalog property violated: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray body = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (auto text = orlune::decodeUtf8(body)) (void)orlune::parseCSV(*text);

    std::vector<orlune::Relay> relays;
    try {
        relays = orlune::parseCatalog(body);
    } catch (const orlune::CatalogError&) {
        return 0;
    }
    for (std::size_t i = 0; i < relays.size(); ++i) {
        const orlune::Relay& relay = relays[i];
        if (relay.id != relay.name + u'-' + relay.hostname) violated("an id is not name-address");
        if (i > 0 && !orlune::Relay::recommendedOrder(relays[i - 1], relay)) violated("relays out of order");
    }
    if (!relays.empty()) {
        try {
            (void)orlune::profileFromCatalog(body, relays.front());
        } catch (const orlune::TunnelError&) {
        }
    }
    return 0;
}
