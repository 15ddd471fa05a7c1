// Test main for the app's Qt tests. Before any test runs it makes a request to anything but
// a loopback address fatal, and points every endpoint at a closed local port, so that a test
// that forgets to set its own servers fails instead of reaching a public service.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include "network/endpoints.h"
#include "network/http.h"
#include "support/local_endpoints.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    orlune::test::keepRequestsLocal();
    const int result = RUN_ALL_TESTS();
    // Replies and access managers dropped with deleteLater go now, while Qt is still whole.
    orlune::releaseSharedNetworkAccess();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return result;
}
