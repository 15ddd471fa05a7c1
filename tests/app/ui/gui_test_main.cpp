// Test main for tests that render: a QApplication (offscreen unless a platform is named), a private runtime folder, and
// every request to anything but a loopback address fatal.
#include <QApplication>
#include <QQmlExtensionPlugin>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "network/endpoints.h"
#include "network/http.h"
#include "support/local_endpoints.h"

Q_IMPORT_QML_PLUGIN(Orlune_UiPlugin)

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    QApplication app(argc, argv);
    orlune::test::keepRequestsLocal();
    const int result = RUN_ALL_TESTS();
    orlune::releaseSharedNetworkAccess();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return result;
}
