#include "support/local_endpoints.h"

#include "support/test_https_server.h"

#include <QHostAddress>
#include <QNetworkProxy>

#include <cstdio>
#include <cstdlib>

#include "network/http.h"

namespace orlune::test {

Endpoints closedLocalEndpoints() {
    Endpoints endpoints;
    const QString base = QStringLiteral("https://127.0.0.1:1");
    endpoints.catalog = QUrl(base + "/api/iphone/");
    endpoints.connectivityCheck = QUrl(base + "/generate_204");
    endpoints.traceEcho = QUrl(base + "/cdn-cgi/trace");
    endpoints.plainEchoes = {QUrl(base + "/echo1/"), QUrl(base + "/echo2/"), QUrl(base + "/ip")};
    endpoints.ipInformation = QUrl(base + "/info/");
    return endpoints;
}

Endpoints endpointsOn(const TestHttpsServer& server) {
    Endpoints endpoints;
    endpoints.catalog = server.url("/api/iphone/");
    endpoints.connectivityCheck = server.url("/generate_204");
    endpoints.traceEcho = server.url("/cdn-cgi/trace");
    endpoints.plainEchoes = {server.url("/echo1/"), server.url("/echo2/"), server.url("/ip")};
    endpoints.ipInformation = server.url("/info/");
    endpoints.caCertificates = {server.certificate()};
    return endpoints;
}

void keepRequestsLocal() {
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    setRequestGuard([](const QUrl& url) {
        const QHostAddress host(url.host());
        if (host.isNull() || !host.isLoopback()) {
            std::fprintf(stderr, "FATAL: a test sent a request to %s, which is not a loopback address\n",
                         qPrintable(url.toString()));
            std::abort();
        }
    });
    Endpoints::setCurrent(closedLocalEndpoints());
}

}  // namespace orlune::test
