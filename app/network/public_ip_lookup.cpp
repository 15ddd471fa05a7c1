#include "network/public_ip_lookup.h"

#include <arpa/inet.h>

#include <QNetworkAccessManager>
#include <QObject>
#include <QRegularExpression>
#include <QStringDecoder>

#include <qcoro/qcorosignal.h>

#include <array>
#include <memory>
#include <vector>

#include "core/tunnel_error.h"
#include "network/endpoints.h"
#include "network/http.h"

namespace orlune::PublicIPLookup {
namespace {

std::array<QUrl, 4> lookupEndpoints() {
    const Endpoints endpoints = Endpoints::current();
    return {endpoints.traceEcho, endpoints.plainEchoes[0], endpoints.plainEchoes[1], endpoints.plainEchoes[2]};
}

// Runs the four lookups and settles on the first valid answer. Each lookup owns its own access
// manager; deleting the race deletes them and with them every request still running.
class LookupRace : public QObject {
    Q_OBJECT
public:
    void start() {
        const auto endpoints = lookupEndpoints();
        pending_ = static_cast<int>(endpoints.size());
        for (const QUrl& url : endpoints) startOne(url);
    }

    bool settled() const { return settled_; }
    const std::optional<QString>& answer() const { return answer_; }

Q_SIGNALS:
    void finished();

private:
    void startOne(const QUrl& url) {
        if (!url.isValid()) {
            lookupDone(std::nullopt);
            return;
        }
        std::unique_ptr<QNetworkAccessManager> access = freshNetworkAccess();
        const QNetworkRequest request = makeRequest(url, NetworkTimeouts::current().publicIP, CacheUse::ignoreLocal);
        QNetworkReply* reply = startGet(*access, request).release();
        reply->setParent(access.get());
        QObject::connect(reply, &QNetworkReply::finished, this, [this, reply] {
            if (settled_) {
                --pending_;
                return;  // aborted by the winner
            }
            std::optional<QString> address;
            if (httpStatus(*reply) == 200) address = addressFromBody(reply->readAll());
            lookupDone(std::move(address));
        });
        access->setParent(this);
        access.release();
    }

    void lookupDone(std::optional<QString> address) {
        --pending_;
        if (settled_) return;
        if (address) {
            answer_ = std::move(address);
        } else if (pending_ > 0) {
            return;
        }
        settled_ = true;
        // Stop the others now; a late answer can change nothing.
        for (QNetworkReply* reply : findChildren<QNetworkReply*>()) {
            if (!reply->isFinished()) reply->abort();
        }
        Q_EMIT finished();
    }

    int pending_ = 0;
    bool settled_ = false;
    std::optional<QString> answer_;
};

}  // namespace

bool isIPAddress(QStringView text) {
    const QByteArray bytes = text.toUtf8();
    in_addr address{};
    return ::inet_pton(AF_INET, bytes.constData(), &address) == 1 && !bytes.contains('\0');
}

std::optional<QString> addressFromBody(const QByteArray& body) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(body);
    if (decoder.hasError()) return std::nullopt;
    const QString trimmed = text.trimmed();
    QString candidate = trimmed;
    static const QRegularExpression kLineBreak(QStringLiteral(R"(\r\n|[\n\r\x0B\x0C\x{85}\x{2028}\x{2029}])"));
    for (const QString& line : trimmed.split(kLineBreak, Qt::SkipEmptyParts)) {
        if (line.startsWith(u"ip=")) {
            candidate = line.mid(3);
            break;
        }
    }
    if (!isIPAddress(candidate)) return std::nullopt;
    return candidate;
}

QCoro::Task<QString> current() {
    const std::unique_ptr<LookupRace, DeleteLater> race(new LookupRace);
    race->start();
    if (!race->settled()) co_await qCoro(race.get(), &LookupRace::finished);
    if (!race->answer()) throw TunnelError(TunnelError::Kind::vpnIPUnavailable);
    co_return *race->answer();
}

}  // namespace orlune::PublicIPLookup

#include "public_ip_lookup.moc"
