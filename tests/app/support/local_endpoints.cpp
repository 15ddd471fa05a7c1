#include "support/local_endpoints.h"

#include "support/test_https_server.h"

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

}  // namespace orlune::test
