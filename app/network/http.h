#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace orlune {

// The HTTP client could not get an answer at all: no connection, time-out, TLS failure.
// Callers pass it on unchanged; an HTTP answer with any status is never this error.
class TransportError : public std::exception {
public:
    TransportError(QNetworkReply::NetworkError code, const QString& description);

    QNetworkReply::NetworkError code() const noexcept { return code_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    QNetworkReply::NetworkError code_;
    std::string description_;
};

// One HTTP answer: any status, the whole body.
struct HttpAnswer {
    int status = 0;
    QByteArray body;
};

enum class CacheUse { protocolDefault, ignoreLocal };

// A GET request with `timeout` as the inactivity limit, redirects not followed (a 3xx is an
// answer of its own) and the configured extra CAs trusted.
QNetworkRequest makeRequest(const QUrl& url, std::chrono::milliseconds timeout, CacheUse cache);

// The access manager shared by the catalog and the reachability probes on this thread.
QNetworkAccessManager& sharedNetworkAccess();

// Deletes this thread's shared access manager. Call before the application object is
// destroyed: Qt's HTTP worker must shut down while Qt is still whole. A later
// sharedNetworkAccess() makes a new one.
void releaseSharedNetworkAccess();

// A new access manager with no cache, no stored cookies and no credentials, so nothing of
// an earlier lookup (connection, TLS session, answer) can be reused.
std::unique_ptr<QNetworkAccessManager> freshNetworkAccess();

// Deletes a QObject from the event loop, so a reply or manager may be dropped inside one of
// its own signals.
struct DeleteLater {
    void operator()(QObject* object) const;
};
using ReplyPtr = std::unique_ptr<QNetworkReply, DeleteLater>;

// Starts a GET. The reply belongs to the caller.
ReplyPtr startGet(QNetworkAccessManager& access, const QNetworkRequest& request);

// Sends a GET and waits for the whole answer. Throws TransportError when there is no HTTP
// answer.
QCoro::Task<HttpAnswer> get(QNetworkAccessManager& access, QNetworkRequest request);

// The HTTP status of a finished reply, or nothing when no HTTP answer arrived.
std::optional<int> httpStatus(const QNetworkReply& reply);

// A check applied to every URL before a request leaves the process. Unset in the app; tests
// install one that stops the test run at any address that is not local.
using RequestGuard = std::function<void(const QUrl&)>;
void setRequestGuard(RequestGuard guard);

}  // namespace orlune
