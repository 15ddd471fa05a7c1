#include "support/catalog_fixtures.h"

#include <QFile>

#include <stdexcept>

#include "catalog/catalog_parsing.h"

namespace orlune::test {

QString samplesDirectory() {
    return QStringLiteral(ORLUNE_SAMPLES_DIR);
}

QByteArray readSample(const QString& fileName) {
    QFile file(samplesDirectory() + u'/' + fileName);
    if (!file.open(QIODevice::ReadOnly)) throw std::runtime_error("missing sample " + fileName.toStdString());
    return file.readAll();
}

QString minimalProfile(const QString& address, const QString& extraDirectives) {
    return QStringLiteral(
               "client\r\ndev tun\r\nproto udp\r\nremote %1 1194\r\n%2"
               "<ca>\r\nCA-LINE\r\n</ca>\r\n<cert>\r\nCERT-LINE\r\n</cert>\r\n"
               "<key>\r\nKEY-LINE\r\n</key>\r\n")
        .arg(address, extraDirectives);
}

QByteArray catalogLine(const CatalogRow& row) {
    const QString profile = row.profileBase64.isNull()
                                ? QString::fromLatin1(minimalProfile(row.address).toUtf8().toBase64())
                                : row.profileBase64;
    const QStringList fields{row.host,
                             row.address,
                             "100",
                             row.ping,
                             row.speed,
                             row.country,
                             row.code,
                             row.sessions,
                             row.uptime,
                             "1",
                             "2",
                             "2weeks",
                             "Operator \"x\" Academic Use Only.",
                             "",
                             profile};
    return fields.join(u',').toUtf8() + "\r\n";
}

QByteArray catalogBody(const QList<QByteArray>& lines) {
    QByteArray body =
        "*vpn_servers\r\n#HostName,IP,Score,Ping,Speed,CountryLong,CountryShort,NumVpnSessions,Uptime,"
        "TotalUsers,TotalTraffic,LogType,Operator,Message,OpenVPN_ConfigData_Base64\r\n";
    for (const QByteArray& line : lines) body += line;
    return body + "*\r\n";
}

Relay relayFor(const CatalogRow& row) {
    Relay relay;
    relay.id = row.host + u'-' + row.address;
    relay.country = row.country;
    relay.countryCode = row.code;
    relay.name = row.host;
    relay.hostname = row.address;
    relay.pingMilliseconds = parseWholeNumber(row.ping);
    if (relay.pingMilliseconds && *relay.pingMilliseconds <= 0) relay.pingMilliseconds.reset();
    relay.speedBitsPerSecond = parseWholeNumber(row.speed);
    if (relay.speedBitsPerSecond && *relay.speedBitsPerSecond <= 0) relay.speedBitsPerSecond.reset();
    relay.sessions = parseWholeNumber(row.sessions);
    if (const auto uptime = parseWholeNumber(row.uptime)) relay.uptimeSeconds = *uptime / 1000;
    relay.supportsOpenVPN = true;
    return relay;
}

}  // namespace orlune::test
