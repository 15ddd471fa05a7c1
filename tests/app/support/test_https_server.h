#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslServer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>

namespace orlune::test {

struct TestResponse {
    int status = 200;
    QByteArray body = {};
    std::chrono::milliseconds delay{0};
    bool hang = false;  // never answer; the client must give up by itself
};

struct ReceivedRequest {
    QByteArray method;
    QString path;
    QHash<QByteArray, QByteArray> headers;  // names in lower case
    int connection = 0;                     // which TCP connection carried it
};

// An HTTP/1.1-over-TLS server on 127.0.0.1 with a fixed answer per path (404 for others).
// Runs on the event loop of the thread that made it; keeps connections alive so that a
// client reusing a connection is visible.
class TestHttpsServer : public QObject {
    Q_OBJECT
public:
    TestHttpsServer();

    void route(const QString& path, TestResponse response) { routes_.insert(path, std::move(response)); }
    QUrl url(const QString& path) const;
    QSslCertificate certificate() const;

    const QList<ReceivedRequest>& requests() const { return requests_; }
    int requestCount(const QString& path) const;
    // Connections accepted so far.
    int connectionCount() const { return connections_; }
    // Connections the client closed, by connection number.
    const QList<int>& closedConnections() const { return closed_; }

private:
    void accept();
    void serve(class QSslSocket* socket, int connection);

    QSslServer server_;
    QHash<QString, TestResponse> routes_;
    QList<ReceivedRequest> requests_;
    QList<int> closed_;
    int connections_ = 0;
};

}  // namespace orlune::test
