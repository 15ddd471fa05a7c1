#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "core/relay.h"

namespace orlune::test {

// The folder of real VPN Gate captures kept beside the project.
QString samplesDirectory();
QByteArray readSample(const QString& fileName);

// A minimal profile that passes the app's checks for `address`, with CR LF line ends.
QString minimalProfile(const QString& address, const QString& extraDirectives = {});

struct CatalogRow {
    QString host = "public-vpn-1";
    QString address = "203.0.113.7";
    QString ping = "12";
    QString speed = "50000000";
    QString country = "Japan";
    QString code = "JP";
    QString sessions = "3";
    QString uptime = "86400000";
    QString profileBase64 = QString();  // null: defaults to the minimal profile for `address`
};

// One CSV line (CR LF) for `row`.
QByteArray catalogLine(const CatalogRow& row);
// A whole answer: banner, header, the given lines, VPN Gate's closing "*" line.
QByteArray catalogBody(const QList<QByteArray>& lines);

// The relay a catalog with `row` yields.
Relay relayFor(const CatalogRow& row);

}  // namespace orlune::test
