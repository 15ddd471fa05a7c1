#include "tunnel/route_lookup.h"

#include <QList>
#include <QStringDecoder>

#include "network/interface_names.h"

namespace orlune {

std::optional<QString> interfaceFromIpRouteOutput(const QByteArray& output) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(output);
    if (decoder.hasError()) return std::nullopt;
    for (const QString& line : text.split(u'\n')) {
        const QStringList words = line.simplified().split(u' ', Qt::SkipEmptyParts);
        const qsizetype dev = words.indexOf(QStringLiteral("dev"));
        if (dev >= 0 && dev + 1 < words.size()) return words.at(dev + 1);
    }
    return std::nullopt;
}

bool isPhysicalRouteInterface(const std::optional<QString>& interface) {
    return interface && hasPrefix(*interface, kPhysicalRoutePrefixes);
}

}  // namespace orlune
