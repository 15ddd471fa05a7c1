#include "network/http.h"

#include <QCoreApplication>
#include <QNetworkCookieJar>
#include <QPointer>
#include <QSslConfiguration>
#include <QThread>
#include <QVariant>

#include <qcoro/qcorosignal.h>

#include <mutex>

#include "network/endpoints.h"

namespace orlune {
namespace {

std::mutex guardMutex;
RequestGuard requestGuard;

// Keeps no cookies, so a fresh manager starts and ends without any.
class NoCookies : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    bool setCookiesFromUrl(const QList<QNetworkCookie>&, const QUrl&) override { return false; }
};

}  // namespace

TransportError::TransportError(QNetworkReply::NetworkError code, const QString& description)
    : code_(code), description_(description.toStdString()) {}

void DeleteLater::operator()(QObject* object) const {
    if (object) object->deleteLater();
}

QNetworkRequest makeRequest(const QUrl& url, std::chrono::milliseconds timeout, CacheUse cache) {
    QNetworkRequest request(url);
    request.setTransferTimeout(static_cast<int>(timeout.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (cache == CacheUse::ignoreLocal) {
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    }
    const QList<QSslCertificate> extra = Endpoints::current().caCertificates;
    if (!extra.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(extra);
        request.setSslConfiguration(tls);
    }
    return request;
}

namespace {
// One per thread (QNetworkAccessManager is not thread-safe).
thread_local QPointer<QNetworkAccessManager> sharedAccess;
}  // namespace

QNetworkAccessManager& sharedNetworkAccess() {
    QPointer<QNetworkAccessManager>& access = sharedAccess;
    if (!access) {
        // The main thread's belongs to the application object, so it never outlives it.
        QCoreApplication* app = QCoreApplication::instance();
        const bool onMainThread = app && app->thread() == QThread::currentThread();
        access = new QNetworkAccessManager(onMainThread ? app : nullptr);
    }
    return *access;
}

void releaseSharedNetworkAccess() {
    delete sharedAccess.data();
}

std::unique_ptr<QNetworkAccessManager> freshNetworkAccess() {
    auto access = std::make_unique<QNetworkAccessManager>();
    access->setCookieJar(new NoCookies(access.get()));
    access->setCache(nullptr);
    return access;
}

ReplyPtr startGet(QNetworkAccessManager& access, const QNetworkRequest& request) {
    {
        std::lock_guard lock(guardMutex);
        if (requestGuard) requestGuard(request.url());
    }
    return ReplyPtr(access.get(request));
}

std::optional<int> httpStatus(const QNetworkReply& reply) {
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) return std::nullopt;
    return status.toInt();
}

QCoro::Task<HttpAnswer> get(QNetworkAccessManager& access, QNetworkRequest request) {
    ReplyPtr reply = startGet(access, request);
    // Awaiting the signal itself: QCoro's waitForFinished() without a time-out connects to a
    // null timer and warns on every request.
    if (!reply->isFinished()) co_await qCoro(reply.get(), &QNetworkReply::finished);
    const std::optional<int> status = httpStatus(*reply);
    if (!status) {
        // Nothing here aborts a request, so a cancelled one was stopped by its inactivity
        // limit; Qt reports that as a cancellation, which would read oddly to the user.
        if (reply->error() == QNetworkReply::OperationCanceledError) {
            throw TransportError(QNetworkReply::TimeoutError, QStringLiteral("The request timed out."));
        }
        throw TransportError(reply->error(), reply->errorString());
    }
    co_return HttpAnswer{*status, reply->readAll()};
}

void setRequestGuard(RequestGuard guard) {
    std::lock_guard lock(guardMutex);
    requestGuard = std::move(guard);
}

}  // namespace orlune
