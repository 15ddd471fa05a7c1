// Test main for the app's Qt tests. Before any test runs it makes a request to anything but
// a loopback address fatal, and points every endpoint at a closed local port, so that a test
// that forgets to set its own servers fails instead of reaching a public service.
#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkProxy>

#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include "network/endpoints.h"
#include "network/http.h"
#include "support/local_endpoints.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    orlune::setRequestGuard([](const QUrl& url) {
        const QHostAddress host(url.host());
        if (host.isNull() || !host.isLoopback()) {
            std::fprintf(stderr, "FATAL: a test sent a request to %s, which is not a loopback address\n",
                         qPrintable(url.toString()));
            std::abort();
        }
    });
    orlune::Endpoints::setCurrent(orlune::test::closedLocalEndpoints());
    const int result = RUN_ALL_TESTS();
    // Replies and access managers dropped with deleteLater go now, while Qt is still whole.
    orlune::releaseSharedNetworkAccess();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return result;
}
