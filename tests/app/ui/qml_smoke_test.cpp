// Loads the window and the tray window offscreen, shows every page in the states that change
// what they lay out, and fails on any QML warning.
#include <QCoreApplication>
#include <QQuickItem>
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
        for (const char* page :
             {"Home", "Servers", "Favorites", "Statistics", "Settings", "Help & Support", "About", "Home"}) {
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

// An object of the window by its objectName.
QObject* find(test::ScriptedApp& app, const char* name) {
    const QString wanted = QString::fromLatin1(name);
    return test::findObject(app.windows->mainWindow()->contentItem(),
                            [&](QObject* object) { return object->objectName() == wanted; });
}

TEST_F(QmlSmokeTest, LegalSheetClosesWithDoneOrTheDefaultKey) {
    app.open();
    ASSERT_TRUE(app.windows->loaded());
    app.shell->setPage("About");
    settle();
    QObject* about = find(app, "about");
    ASSERT_NE(about, nullptr);
    QQuickWindow* window = app.windows->mainWindow();

    for (const char* document : {"privacy", "terms"}) {
        QMetaObject::invokeMethod(about, "showDocument", Q_ARG(QString, QString::fromLatin1(document)));
        settle();
        QObject* sheet = find(app, "legalSheet");
        ASSERT_NE(sheet, nullptr);
        EXPECT_TRUE(sheet->property("visible").toBool()) << document;
        QTest::keyClick(window, Qt::Key_Return);
        settle();
        EXPECT_EQ(about->property("selectedDocument").toString(), QString()) << document;
        EXPECT_FALSE(sheet->property("visible").toBool()) << document;
    }
    // Escape too, and Done by its button.
    QMetaObject::invokeMethod(about, "showDocument", Q_ARG(QString, QStringLiteral("terms")));
    settle();
    QTest::keyClick(window, Qt::Key_Escape);
    settle();
    EXPECT_EQ(about->property("selectedDocument").toString(), QString());
    QMetaObject::invokeMethod(about, "showDocument", Q_ARG(QString, QStringLiteral("privacy")));
    settle();
    QObject* done = find(app, "doneButton");
    ASSERT_NE(done, nullptr);
    QMetaObject::invokeMethod(done, "clicked");
    settle();
    EXPECT_EQ(about->property("selectedDocument").toString(), QString());
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}

TEST_F(QmlSmokeTest, SettingsControlsFollowTheStoredValues) {
    app.open();
    ASSERT_TRUE(app.windows->loaded());
    app.shell->setPage("Settings");
    settle();
    QObject* interval = find(app, "refreshInterval");
    ASSERT_NE(interval, nullptr);
    EXPECT_TRUE(interval->property("enabled").toBool());
    app.fixture.preferences().setValue("refreshIntervalSeconds", 3600);
    app.fixture.preferences().setValue("automaticRefreshEnabled", false);
    settle();
    EXPECT_FALSE(interval->property("enabled").toBool());
    EXPECT_EQ(interval->property("currentIndex").toInt(), 3);

    // A step changes the row's label in place: the row (and the button with the focus) stays.
    QObject* speed = find(app, "stepper-minimumSpeedMbps");
    ASSERT_NE(speed, nullptr);
    app.fixture.preferences().setValue("minimumSpeedMbps", 15);
    settle();
    EXPECT_EQ(find(app, "stepper-minimumSpeedMbps"), speed);
    EXPECT_EQ(speed->property("label").toString(), "Minimum provider speed: 15 Mbps");

    // Launch at login: the switch shows what the desktop reports after the change.
    QObject* login = find(app, "launchAtLogin");
    ASSERT_NE(login, nullptr);
    QObject* toggle = login->findChild<QObject*>("switch");
    ASSERT_NE(toggle, nullptr);
    QMetaObject::invokeMethod(toggle, "toggle");
    QMetaObject::invokeMethod(toggle, "toggled");
    settle();
    EXPECT_EQ(app.loginItem, LoginItemStatus::enabled);
    EXPECT_TRUE(toggle->property("checked").toBool());
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}

TEST(IconTableTest, EverySymbolTheScreensUseRendersFromTheVendoredSet) {
    // The symbols the view models and pages name, besides those written in the QML files.
    const QStringList used = {"house",
                              "server.rack",
                              "star",
                              "star.fill",
                              "chart.bar",
                              "gearshape",
                              "questionmark.circle",
                              "info.circle",
                              "checkmark.shield.fill",
                              "arrow.trianglehead.2.clockwise.rotate.90",
                              "power",
                              "wifi.slash",
                              "exclamationmark.shield.fill",
                              "exclamationmark.triangle.fill",
                              "chevron.down",
                              "chevron.right",
                              "checkmark.circle.fill",
                              "circle",
                              "arrow.clockwise",
                              "arrow.trianglehead.2.clockwise",
                              "clock",
                              "globe.americas",
                              "waveform.path",
                              "arrow.up",
                              "arrow.down",
                              "globe",
                              "exclamationmark.triangle",
                              "lock.shield",
                              "hand.raised",
                              "arrow.up.right.square",
                              "doc.on.doc",
                              "checkmark"};
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
