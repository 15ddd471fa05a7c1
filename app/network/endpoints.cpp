#include "network/endpoints.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>

#include <cstdlib>
#include <mutex>
#include <string>

namespace orlune {
namespace {

std::mutex& configurationMutex() {
    static std::mutex mutex;
    return mutex;
}

Endpoints& storedEndpoints() {
    static Endpoints endpoints = Endpoints::publicDefaults();
    return endpoints;
}

NetworkTimeouts& storedTimeouts() {
    static NetworkTimeouts timeouts;
    return timeouts;
}

[[noreturn]] void fail(const QString& reason) {
    throw EndpointsError(("The endpoints configuration is not usable: " + reason + ".").toStdString());
}

QUrl httpsUrl(const QJsonValue& value, const QString& key) {
    if (!value.isString()) fail(QStringLiteral("\"%1\" must be a URL text").arg(key));
    QUrl url(value.toString(), QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != u"https" || url.host().isEmpty()) {
        fail(QStringLiteral("\"%1\" must be an absolute https URL with a host").arg(key));
    }
    return url;
}

QList<QSslCertificate> readCertificates(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("the CA certificate file %1 cannot be read").arg(path));
    }
    QList<QSslCertificate> certificates = QSslCertificate::fromData(file.readAll(), QSsl::Pem);
    if (certificates.isEmpty()) {
        fail(QStringLiteral("the CA certificate file %1 holds no PEM certificate").arg(path));
    }
    return certificates;
}

}  // namespace

Endpoints Endpoints::publicDefaults() {
    Endpoints endpoints;
    endpoints.catalog = QUrl(QStringLiteral("https://www.vpngate.net/api/iphone/"));
    endpoints.connectivityCheck = QUrl(QStringLiteral("https://connectivitycheck.gstatic.com/generate_204"));
    // Addressed by IP so that the check and the lookup work while DNS is being switched.
    endpoints.traceEcho = QUrl(QStringLiteral("https://1.1.1.1/cdn-cgi/trace"));
    endpoints.plainEchoes = {
        QUrl(QStringLiteral("https://api.ipify.org/")),
        QUrl(QStringLiteral("https://checkip.amazonaws.com/")),
        QUrl(QStringLiteral("https://ifconfig.me/ip")),
    };
    endpoints.ipInformation = QUrl(QStringLiteral("https://ipinfo.io/"));
    endpoints.speedTest = QUrl(QStringLiteral("https://speed.cloudflare.com/__down?bytes=25000000"));
    return endpoints;
}

Endpoints Endpoints::fromJson(const QByteArray& json, const QString& baseDirectory) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        fail(QStringLiteral("malformed JSON (%1 at offset %2)").arg(parseError.errorString()).arg(parseError.offset));
    }
    if (!document.isObject()) fail(QStringLiteral("the file must hold one JSON object"));
    const QJsonObject object = document.object();

    static const QSet<QString> kKnown = {
        QStringLiteral("catalog"),        QStringLiteral("connectivityCheck"), QStringLiteral("traceEcho"),
        QStringLiteral("plainEchoes"),    QStringLiteral("ipInformation"),     QStringLiteral("caCertificates"),
        QStringLiteral("catalogMirrors"), QStringLiteral("speedTest"),
    };
    for (auto it = object.begin(); it != object.end(); ++it) {
        // An unknown key is most likely a misspelt one whose value would silently not apply.
        if (!kKnown.contains(it.key())) fail(QStringLiteral("unknown key \"%1\"").arg(it.key()));
    }
    for (const QString& key :
         {QStringLiteral("catalog"), QStringLiteral("connectivityCheck"), QStringLiteral("traceEcho"),
          QStringLiteral("plainEchoes"), QStringLiteral("ipInformation")}) {
        if (!object.contains(key)) fail(QStringLiteral("the key \"%1\" is missing").arg(key));
    }

    Endpoints endpoints;
    endpoints.catalog = httpsUrl(object.value(u"catalog"), QStringLiteral("catalog"));
    endpoints.connectivityCheck = httpsUrl(object.value(u"connectivityCheck"), QStringLiteral("connectivityCheck"));
    endpoints.traceEcho = httpsUrl(object.value(u"traceEcho"), QStringLiteral("traceEcho"));
    const QJsonValue echoes = object.value(u"plainEchoes");
    if (!echoes.isArray() || echoes.toArray().size() != 3) {
        fail(QStringLiteral("\"plainEchoes\" must be a list of exactly three URLs"));
    }
    for (int i = 0; i < 3; ++i) {
        endpoints.plainEchoes[static_cast<std::size_t>(i)] =
            httpsUrl(echoes.toArray().at(i), QStringLiteral("plainEchoes[%1]").arg(i));
    }
    endpoints.ipInformation = httpsUrl(object.value(u"ipInformation"), QStringLiteral("ipInformation"));
    if (object.contains(u"catalogMirrors")) {
        const QJsonValue mirrors = object.value(u"catalogMirrors");
        if (!mirrors.isArray()) fail(QStringLiteral("\"catalogMirrors\" must be a list of URLs"));
        const QJsonArray list = mirrors.toArray();
        for (qsizetype i = 0; i < list.size(); ++i) {
            const QString key = QStringLiteral("catalogMirrors[%1]").arg(i);
            if (!list.at(i).isString()) fail(QStringLiteral("\"%1\" must be a URL text").arg(key));
            const QUrl url(list.at(i).toString(), QUrl::StrictMode);
            const bool loopback = url.host() == u"localhost" || QHostAddress(url.host()).isLoopback();
            if (!url.isValid() || url.host().isEmpty() ||
                !(url.scheme() == u"https" || (url.scheme() == u"http" && loopback))) {
                fail(QStringLiteral("\"%1\" must be an absolute https URL (plain http only to a loopback host)")
                         .arg(key));
            }
            endpoints.catalogMirrors.push_back(url);
        }
    }
    if (object.contains(u"speedTest")) {
        endpoints.speedTest = httpsUrl(object.value(u"speedTest"), QStringLiteral("speedTest"));
    }
    if (object.contains(u"caCertificates")) {
        const QJsonValue path = object.value(u"caCertificates");
        if (!path.isString() || path.toString().isEmpty()) {
            fail(QStringLiteral("\"caCertificates\" must be a file path"));
        }
        endpoints.caCertificates = readCertificates(QDir(baseDirectory).filePath(path.toString()));
    }
    return endpoints;
}

Endpoints Endpoints::fromFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("the file %1 cannot be read (%2)").arg(path, file.errorString()));
    }
    return fromJson(file.readAll(), QFileInfo(path).absolutePath());
}

Endpoints Endpoints::fromEnvironment() {
    const char* value = std::getenv(kEndpointsVariable);
    if (!value) return publicDefaults();
    if (*value == '\0') fail(QStringLiteral("%1 is set but names no file").arg(QLatin1String(kEndpointsVariable)));
    return fromFile(QString::fromLocal8Bit(value));
}

std::optional<QUrl> Endpoints::exitCountryUrl(const QString& address) const {
    QString base = ipInformation.toString();
    if (!base.endsWith(u'/')) base.append(u'/');
    const QUrl url(base + address + QStringLiteral("/country"), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) return std::nullopt;
    return url;
}

Endpoints Endpoints::current() {
    std::lock_guard lock(configurationMutex());
    return storedEndpoints();
}

void Endpoints::setCurrent(Endpoints endpoints) {
    std::lock_guard lock(configurationMutex());
    storedEndpoints() = std::move(endpoints);
}

NetworkTimeouts NetworkTimeouts::current() {
    std::lock_guard lock(configurationMutex());
    return storedTimeouts();
}

void NetworkTimeouts::setCurrent(NetworkTimeouts timeouts) {
    std::lock_guard lock(configurationMutex());
    storedTimeouts() = timeouts;
}

}  // namespace orlune
