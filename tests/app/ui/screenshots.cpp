// Renders the window's important states offscreen into PNG files, from a model of fakes:
//   ui_screenshots OUTPUT-FOLDER [--scale 2]
// With --scale, a few states at that device pixel ratio, named with an "-2x" suffix.
#include <QApplication>
#include <QDir>
#include <QHostAddress>
#include <QQmlExtensionPlugin>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "core/tunnel_error.h"
#include "network/endpoints.h"
#include "network/http.h"
#include "scripted_app.h"
#include "support/await.h"
#include "support/local_endpoints.h"

Q_IMPORT_QML_PLUGIN(Orlune_UiPlugin)

namespace {

using orlune::test::ScriptedApp;

void settle() {
    // Long enough for the page's fade-in to end.
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(40);
    }
}

bool save(QQuickWindow* window, const QString& path) {
    settle();
    const QImage image = window->grabWindow();
    if (image.isNull() || !image.save(path)) {
        std::fprintf(stderr, "screenshots: could not write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

struct Scene {
    const char* name;
    std::function<void(ScriptedApp&)> prepare;
    bool menu = false;
    // Runs once the window shows the page: scrolling, opening a sheet, keys.
    std::function<void(QQuickItem*)> shown = {};
    QSize size = {};         // the window's size, if not its default
    double textScale = 1.0;  // the desktop's text scaling
    bool scaled = false;     // also rendered by a --scale run
};

constexpr QSize kMinimum{940, 660};

// Presses Tab until the item named `name` holds the keyboard focus, then the extra keys.
void focusByKeyboard(QQuickItem* content, const char* name, std::initializer_list<Qt::Key> then = {}) {
    settle();
    QQuickWindow* window = content->window();
    for (int i = 0; i < 40; ++i) {
        QTest::keyClick(window, Qt::Key_Tab);
        bool reached = false;  // a list hands its focus on to its current row
        for (QQuickItem* at = window->activeFocusItem(); at && !reached; at = at->parentItem()) {
            reached = at->objectName() == QLatin1String(name);
        }
        if (reached) break;
    }
    for (Qt::Key key : then) QTest::keyClick(window, key);
}

// Scrolls the page's scroll view to its end.
void scrollToEnd(QQuickItem* content) {
    settle();
    QObject* flickable = orlune::test::findObject(content, [](QObject* o) { return o->inherits("QQuickFlickable"); });
    if (!flickable) return;
    const qreal end = flickable->property("contentHeight").toReal() - flickable->property("height").toReal();
    flickable->setProperty("contentY", std::max<qreal>(0, end));
}

void showDocument(QQuickItem* content, const char* document) {
    settle();
    QObject* about =
        orlune::test::findObject(content, [](QObject* o) { return o->objectName() == QLatin1String("about"); });
    if (about) QMetaObject::invokeMethod(about, "showDocument", Q_ARG(QString, QString::fromLatin1(document)));
}

void load(ScriptedApp& app) {
    orlune::test::await(app.model().refreshCatalog());
}

// Connects to the catalog's relay `index` with these figures measured, then disconnects after
// `minutes`.
void workedFor(ScriptedApp& app, int index, qint64 rtt, qint64 throughput, int minutes) {
    app.fixture.preferences().setValue("measureThroughput", true);
    app.fixture.measurer->rtt = rtt;
    app.fixture.measurer->throughput = throughput;
    app.model().select(app.catalog().relays[std::size_t(index)]);
    orlune::test::await(app.model().connectSelected());
    app.fixture.clock->current = app.fixture.clock->current.addSecs(60 * minutes);
    orlune::test::await(app.model().disconnect());
}

void sortMeasured(QQuickItem* content) {
    settle();
    QObject* servers =
        orlune::test::findObject(content, [](QObject* o) { return o->inherits("orlune::ui::ServersViewModel"); });
    if (servers) servers->setProperty("sort", QStringLiteral("Measured"));
}

void failAll(ScriptedApp& app) {
    for (const auto& relay : app.catalog().relays) {
        app.fixture.tunnel->outcomes[relay.id] =
            std::make_exception_ptr(orlune::TunnelError(orlune::TunnelError::Kind::serverMissingFromFreshCatalog));
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool scaledRun = argc == 4 && QByteArray(argv[2]) == "--scale";
    if (scaledRun) qputenv("QT_SCALE_FACTOR", argv[3]);
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    QApplication app(argc, argv);
    if (argc != 2 && !scaledRun) {
        std::fprintf(stderr, "usage: ui_screenshots OUTPUT-FOLDER [--scale FACTOR]\n");
        return 2;
    }
    // Nothing here may leave the machine.
    orlune::setRequestGuard([](const QUrl& url) {
        if (!QHostAddress(url.host()).isLoopback()) std::abort();
    });
    orlune::Endpoints::setCurrent(orlune::test::closedLocalEndpoints());
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral("."))) return 1;

    static orlune::test::Gate holdConnect;
    // One entry per scene, laid out by hand: the formatter would spread each over many lines.
    // clang-format off
    const Scene scenes[] = {
        {"home-no-selection", [](ScriptedApp& a) { load(a); }},
        {"home-selected",
         [](ScriptedApp& a) {
             load(a);
             a.model().selectCountry("JP");
         },
         false,
         {},
         {},
         1.0,
         true},
        {"home-minimum-size",
         [](ScriptedApp& a) {
             load(a);
             a.model().selectCountry("JP");
         },
         false,
         {},
         kMinimum},
        {"home-keyboard-focus",
         [](ScriptedApp& a) {
             load(a);
             a.model().selectCountry("JP");
         },
         false, [](QQuickItem* content) { focusByKeyboard(content, "mainButton"); }},
        {"servers-minimum-size-text-2x",
         [](ScriptedApp& a) {
             load(a);
             a.model().selectCountry("KR");
             a.shell->setPage("Servers");
         },
         false,
         {},
         kMinimum,
         2.0},
        {"servers-keyboard-focus",
         [](ScriptedApp& a) {
             load(a);
             a.model().selectCountry("KR");
             a.shell->setPage("Servers");
         },
         false,
         [](QQuickItem* content) {
             focusByKeyboard(content, "serverList", {Qt::Key_Down, Qt::Key_Down, Qt::Key_Right});
         }},
        {"settings-minimum-size-text-2x",
         [](ScriptedApp& a) {
             load(a);
             a.shell->setPage("Settings");
         },
         false,
         {},
         kMinimum,
         2.0},
        {"home-connecting",
         [](ScriptedApp& a) {
             load(a);
             a.model().selectCountry("JP");
             a.fixture.tunnel->connectGate = &holdConnect;
             a.fixture.tunnel->progressLines = {QStringLiteral("Waiting for the VPN service to report the tunnel…")};
             a.model().requestConnect();
         }},
        {"home-connected",
         [](ScriptedApp& a) {
             load(a);
             a.model().selectCountry("JP");
             orlune::test::await(a.model().connectSelected());
             a.fixture.clock->current = a.fixture.clock->current.addSecs(754);
         }},
        {"home-measured",
         [](ScriptedApp& a) {
             load(a);
             a.fixture.preferences().setValue("measureThroughput", true);
             a.fixture.measurer->rtt = 236;
             a.fixture.measurer->throughput = 12'300'000;
             a.model().selectCountry("JP");
             orlune::test::await(a.model().connectSelected());
             a.fixture.clock->current = a.fixture.clock->current.addSecs(754);
         },
         false,
         {},
         {1120, 960}},  // tall enough for the note under the tunnel's details
        {"statistics-measured",
         [](ScriptedApp& a) {
             load(a);
             a.fixture.preferences().setValue("measureThroughput", true);
             a.fixture.measurer->rtt = 236;
             a.fixture.measurer->throughput = 12'300'000;
             a.model().selectCountry("JP");
             orlune::test::await(a.model().connectSelected());
             a.fixture.clock->current = a.fixture.clock->current.addSecs(754);
             a.shell->setPage("Statistics");
         }},
        {"servers-measured",
         [](ScriptedApp& a) {
             load(a);
             // Japan's second relay delivered more than its first: "Measured" puts it first.
             workedFor(a, 2, 251, 4'100'000, 50);
             workedFor(a, 1, 231, 18'600'000, 40);
             workedFor(a, 0, 236, 12'300'000, 25);
             a.fixture.clock->current = a.fixture.clock->current.addSecs(2 * 3600);
             a.shell->setPage("Servers");
         },
         false, sortMeasured},
        {"servers-recently-worked",
         [](ScriptedApp& a) {
             load(a);
             // Two relays worked, then left the list; the user offers them again.
             workedFor(a, 1, 231, 18'600'000, 40);
             workedFor(a, 0, 236, 12'300'000, 25);
             auto& relays = a.catalog().relays;
             relays.erase(relays.begin(), relays.begin() + 2);
             orlune::test::await(a.model().refreshCatalog());
             a.fixture.preferences().setValue("offerRecentlyWorked", true);
             a.model().selectCountry("JP");
             a.shell->setPage("Servers");
         }},
        {"home-failed",
         [](ScriptedApp& a) {
             load(a);
             failAll(a);
             a.model().selectCountry("KR");
             orlune::test::await(a.model().connectSelected());
         }},
        {"home-offline",
         [](ScriptedApp& a) {
             load(a);
             a.model().selectCountry("JP");
             a.fixture.network->reachable = false;
             a.fixture.network->physicalUp = false;
             a.catalog().error = std::make_exception_ptr(std::runtime_error("offline"));
             orlune::test::await(a.model().refreshCatalog());
         }},
        {"servers",
         [](ScriptedApp& a) {
             load(a);
             a.model().selectCountry("KR");
             a.model().toggleFavorite(a.catalog().relays[0]);
             a.shell->setPage("Servers");
         },
         false,
         {},
         {},
         1.0,
         true},
        {"servers-kept-catalog",
         [](ScriptedApp& a) {
             orlune::CatalogFetch kept;
             kept.relays = a.catalog().relays;
             kept.keptFrom = a.fixture.clock->current.addSecs(-3 * 3600 - 600);
             kept.liveFailure = QStringLiteral("primary 192.0.2.10: Connection refused; mirror "
                                               "192.0.2.11: the catalog service did not return a valid VPN Gate "
                                               "relay list (HTTP 429)");
             a.catalog().kept = kept;
             a.catalog().error = std::make_exception_ptr(std::runtime_error("refused"));
             orlune::test::await(a.model().refreshCatalog());
             a.model().selectCountry("JP");
             a.shell->setPage("Servers");
         }},
        {"favorites-unavailable",
         [](ScriptedApp& a) {
             load(a);
             a.model().toggleFavorite(a.catalog().relays[0]);
             a.model().toggleFavorite(a.catalog().relays[1]);
             a.model().toggleFavorite(a.catalog().relays[4]);
             a.catalog().relays.erase(a.catalog().relays.begin() + 1);
             load(a);
             a.shell->setPage("Favorites");
         }},
        {"statistics-connected",
         [](ScriptedApp& a) {
             load(a);
             a.model().selectCountry("JP");
             orlune::test::await(a.model().connectSelected());
             a.fixture.clock->current = a.fixture.clock->current.addSecs(3754);
             a.shell->setPage("Statistics");
         }},
        {"statistics-unavailable",
         [](ScriptedApp& a) {
             load(a);
             a.shell->setPage("Statistics");
         }},
        {"settings",
         [](ScriptedApp& a) {
             load(a);
             a.loginItem = orlune::LoginItemStatus::enabled;
             a.fixture.preferences().setValue("notificationsEnabled", true);
             a.shell->setPage("Settings");
         }},
        {"settings-end",
         [](ScriptedApp& a) {
             load(a);
             a.fixture.preferences().setValue("automaticRefreshEnabled", false);
             a.fixture.preferences().setValue("minimumSpeedMbps", 250);
             a.shell->setPage("Settings");
         }, false, scrollToEnd},
        {"settings-vpn", [](ScriptedApp& a) {
             load(a);
             a.fixture.preferences().setValue("blockOutsideVPN", true);
             a.fixture.preferences().setValue("blockIPv6", true);
             a.shell->setPage("Settings");
         }},
        {"help", [](ScriptedApp& a) {
             load(a);
             a.shell->setPage("Help & Support");
         }},
        {"about", [](ScriptedApp& a) { a.shell->setPage("About"); }},
        {"about-privacy", [](ScriptedApp& a) { a.shell->setPage("About"); }, false,
         [](QQuickItem* content) { showDocument(content, "privacy"); }},
        {"about-terms", [](ScriptedApp& a) { a.shell->setPage("About"); }, false,
         [](QQuickItem* content) { showDocument(content, "terms"); }},
        {"menu-connected",
         [](ScriptedApp& a) {
             load(a);
             a.model().selectCountry("JP");
             orlune::test::await(a.model().connectSelected());
         },
         true,
         {},
         {},
         1.0,
         true},
        {"menu-disconnected", [](ScriptedApp& a) { load(a); }, true},
    };
    // clang-format on

    bool ok = true;
    for (const char* appearance : {"Light", "Dark"}) {
        for (const Scene& scene : scenes) {
            if (scaledRun && !scene.scaled) continue;
            ScriptedApp scripted;
            scripted.fixture.preferences().setValue("appearance", appearance);
            scene.prepare(scripted);
            scripted.open(!scene.menu);
            if (!scripted.windows->loaded()) return 1;
            QQuickWindow* window = scene.menu ? scripted.windows->menuWindow() : scripted.windows->mainWindow();
            if (scene.size.isValid()) window->resize(scene.size);
            if (scene.textScale != 1.0)
                orlune::test::theme(scripted.windows->engine())->setProperty("textScale", scene.textScale);
            if (scene.menu) scripted.windows->showMenuWindow();
            if (scene.shown) scene.shown(window->contentItem());
            const QString name = QString::fromLatin1(scene.name) + "-" + QString::fromLatin1(appearance).toLower() +
                                 (scaledRun ? QStringLiteral("-") + QString::fromLatin1(argv[3]) + "x" : QString());
            ok = save(window, out.filePath(name + ".png")) && ok;
        }
    }
    orlune::releaseSharedNetworkAccess();
    return ok ? 0 : 1;
}
