// Arbitrary bytes as the two small texts the app reads besides the catalog: the output of
// `ip -4 route get` (the route check of connect and disconnect) and a stored relay record (the
// hidden and favourite relays kept in the preferences, which any program of the user can edit).
// The first byte chooses. Nothing crashes; an interface read is one word; a relay read back
// from its stored form is the same relay.
#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdlib>

#include "core/relay.h"
#include "tunnel/route_lookup.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    if (data[0] & 1) {
        const auto interface = orlune::interfaceFromIpRouteOutput(bytes);
        if (interface && (interface->isEmpty() || interface->contains(u' ') || interface->contains(u'\n')))
            std::abort();
        (void)orlune::isPhysicalRouteInterface(interface);
        return 0;
    }
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject()) return 0;
    const auto relay = orlune::Relay::fromJson(document.object());
    if (relay && orlune::Relay::fromJson(relay->toJson()) != relay) std::abort();
    return 0;
}
