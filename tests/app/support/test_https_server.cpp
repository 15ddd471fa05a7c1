#include "support/test_https_server.h"

#include <QHostAddress>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

#include <stdexcept>

#include "support/test_certificate.h"

namespace orlune::test {
namespace {

QByteArray reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QByteArray encode(const TestResponse& response) {
    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reason(response.status) + "\r\n";
    if (response.status >= 300 && response.status < 400) out += "Location: https://127.0.0.1:1/moved\r\n";
    out += "Content-Type: text/plain; charset=utf-8\r\n";
    if (response.status != 204) out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    out += "Connection: keep-alive\r\n\r\n";
    if (response.status != 204) out += response.body;
    return out;
}

}  // namespace

TestHttpsServer::TestHttpsServer() {
    const TestCertificate& certificate = TestCertificate::shared();
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(certificate.certificate);
    tls.setPrivateKey(certificate.key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    server_.setSslConfiguration(tls);
    if (!server_.listen(QHostAddress::LocalHost, 0)) throw std::runtime_error("test server cannot listen");
    connect(&server_, &QTcpServer::pendingConnectionAvailable, this, &TestHttpsServer::accept);
}

QUrl TestHttpsServer::url(const QString& path) const {
    return QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path));
}

QSslCertificate TestHttpsServer::certificate() const {
    return TestCertificate::shared().certificate;
}

int TestHttpsServer::requestCount(const QString& path) const {
    int count = 0;
    for (const ReceivedRequest& request : requests_) count += request.path == path ? 1 : 0;
    return count;
}

void TestHttpsServer::accept() {
    while (QTcpSocket* next = server_.nextPendingConnection()) {
        auto* socket = static_cast<QSslSocket*>(next);
        socket->setParent(this);
        const int connection = ++connections_;
        connect(socket, &QSslSocket::readyRead, this, [this, socket, connection] { serve(socket, connection); });
        connect(socket, &QSslSocket::disconnected, this, [this, socket, connection] {
            closed_.append(connection);
            socket->deleteLater();
        });
        serve(socket, connection);
    }
}

void TestHttpsServer::serve(QSslSocket* socket, int connection) {
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    for (qsizetype end = buffer.indexOf("\r\n\r\n"); end >= 0; end = buffer.indexOf("\r\n\r\n")) {
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        buffer.remove(0, end + 4);
        const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
        ReceivedRequest request;
        request.method = start.value(0);
        request.path = QString::fromUtf8(start.value(1));
        request.connection = connection;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        requests_.append(request);
        const TestResponse response = routes_.value(request.path, TestResponse{.status = 404, .body = "not found"});
        if (response.hang) continue;
        const QByteArray bytes = encode(response);
        if (response.delay.count() > 0) {
            QTimer::singleShot(response.delay, socket, [socket, bytes] { socket->write(bytes); });
        } else {
            socket->write(bytes);
        }
    }
    socket->setProperty("buffer", buffer);
}

}  // namespace orlune::test
