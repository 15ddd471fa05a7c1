// Loads the window and the tray window offscreen, shows every page in the states that change
// what they lay out, and fails on any QML warning.
#include <QCoreApplication>
#include <QQuickWindow>
#include <QTest>

#include <gtest/gtest.h>

#include "scripted_app.h"
#include "support/await.h"
#include "ui/icons.h"

namespace orlune {
namespace {

QStringList* gWarnings = nullptr;
QtMessageHandler gPrevious = nullptr;

void collect(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    // The offscreen platform's own notes (it cannot raise a window) are not the views' faults.
    const bool platformNote = message.startsWith(QLatin1String("This plugin does not support"));
    if (gWarnings && type != QtDebugMsg && type != QtInfoMsg && !platformNote) gWarnings->append(message);
    if (gPrevious) gPrevious(type, context, message);
}

class QmlSmokeTest : public ::testing::Test {
protected:
    QmlSmokeTest() {
        gWarnings = &warnings;
        gPrevious = qInstallMessageHandler(collect);
    }
    ~QmlSmokeTest() override {
        qInstallMessageHandler(gPrevious);
        gWarnings = nullptr;
    }
    void settle() {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
            QTest::qWait(5);
        }
    }
    void showEveryPage() {
        for (const char* page : {"Home", "Servers", "Favorites", "Statistics", "Settings", "Help & Support", "About",
                                 "Home"}) {
            app.shell->setPage(QString::fromUtf8(page));
            settle();
        }
    }

    QStringList warnings;
    test::ScriptedApp app;
};

TEST_F(QmlSmokeTest, EveryPageLoadsWithoutWarningsInEveryState) {
    app.open();
    ASSERT_TRUE(app.windows->loaded()) << warnings.join('\n').toStdString();
    EXPECT_EQ(app.windows->mainWindow()->title(), "Orlune VPN");
    EXPECT_EQ(app.windows->mainWindow()->minimumSize(), QSize(940, 660));
    EXPECT_TRUE(app.shell->windowShown());  // the refresh and the notifications run with it
    app.windows->mainWindow()->close();
    settle();
    EXPECT_FALSE(app.shell->windowShown());
    app.shell->openMainWindow();
    settle();
    EXPECT_TRUE(app.shell->windowShown());
    showEveryPage();  // empty catalog

    test::await(app.model().refreshCatalog());
    app.model().selectCountry("JP");
    app.model().toggleFavorite(app.catalog().relays[2]);
    showEveryPage();
    app.shell->setPage("Servers");
    settle();
    app.model().setServerSearch("kr");  // filters, then nothing
    settle();
    app.model().setServerSearch("no such relay");
    settle();
    app.model().setServerSearch({});

    test::await(app.model().connectSelected());
    ASSERT_TRUE(app.model().connectionState().isConnected());
    app.fixture.preferences().setValue("appearance", "Dark");
    showEveryPage();
    app.windows->showMenuWindow();
    settle();
    EXPECT_TRUE(app.windows->menuWindow()->isVisible());

    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}

TEST(IconTableTest, EverySymbolTheScreensUseRendersFromTheVendoredSet) {
    // The symbols the view models and pages name, besides those written in the QML files.
    const QStringList used = {"house", "server.rack", "star", "star.fill", "chart.bar", "gearshape",
                              "questionmark.circle", "info.circle", "checkmark.shield.fill",
                              "arrow.trianglehead.2.clockwise.rotate.90", "power", "wifi.slash",
                              "exclamationmark.shield.fill", "exclamationmark.triangle.fill", "chevron.down",
                              "chevron.right", "checkmark.circle.fill", "circle", "arrow.clockwise",
                              "arrow.trianglehead.2.clockwise"};
    for (const QString& symbol : used) EXPECT_TRUE(ui::iconSymbols().contains(symbol)) << symbol.toStdString();
    for (const QString& symbol : ui::iconSymbols()) {
        const QImage image = ui::renderIcon(symbol, Qt::red, QSize(24, 24));
        ASSERT_FALSE(image.isNull()) << symbol.toStdString();
        bool painted = false;
        for (int y = 0; y < image.height() && !painted; ++y) {
            for (int x = 0; x < image.width() && !painted; ++x) painted = qAlpha(image.pixel(x, y)) > 0;
        }
        EXPECT_TRUE(painted) << symbol.toStdString();
    }
    EXPECT_TRUE(ui::renderIcon("no.such.symbol", Qt::red, QSize(24, 24)).isNull());
    EXPECT_TRUE(QFile::exists(":/Orlune/Ui/icons/lucide/LICENSE"));
}

}  // namespace
}  // namespace orlune
