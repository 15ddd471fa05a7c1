// The tray icon under a real X server with a tray host (run by tray_test.sh): the icon is
// shown, closing the window no longer quits, and activating the icon opens the small window.
#include <QGuiApplication>
#include <QQuickWindow>
#include <QSystemTrayIcon>
#include <QTest>

#include <gtest/gtest.h>

#include "scripted_app.h"
#include "support/await.h"

namespace orlune {
namespace {

TEST(TrayTest, ActivatingTheIconOpensTheMenuWindow) {
    // The tray host may still be starting.
    for (int i = 0; i < 100 && !QSystemTrayIcon::isSystemTrayAvailable(); ++i) QTest::qWait(30);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) GTEST_SKIP() << "no system tray on this display";

    test::ScriptedApp app;
    test::await(app.model().refreshCatalog());
    app.open(true, true);
    ASSERT_TRUE(app.windows->loaded());
    EXPECT_TRUE(app.shell->trayAvailable());
    ASSERT_NE(app.windows->trayIcon(), nullptr);
    EXPECT_TRUE(app.windows->trayIcon()->isVisible());
    EXPECT_EQ(app.windows->trayIcon()->toolTip(), "Orlune VPN");
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());

    app.windows->mainWindow()->close();
    QTest::qWait(50);
    EXPECT_FALSE(app.windows->menuWindow()->isVisible());
    emit app.windows->trayIcon()->activated(QSystemTrayIcon::Trigger);
    QTest::qWait(50);
    EXPECT_TRUE(app.windows->menuWindow()->isVisible());
    EXPECT_FALSE(app.windows->mainWindow()->isVisible());
}

}  // namespace
}  // namespace orlune
