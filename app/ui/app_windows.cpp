#include "ui/app_windows.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QSystemTrayIcon>

#include "ui/icons.h"
#include "ui/shell.h"

namespace orlune::ui {
namespace {

const QColor kTint = QColor::fromRgbF(0.96f, 0.36f, 0.12f);

bool paletteIsDark() {
    const QPalette palette = QGuiApplication::palette();
    return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
}

QQuickWindow* load(QQmlApplicationEngine& engine, const char* file) {
    const qsizetype before = engine.rootObjects().size();
    engine.load(QUrl(QStringLiteral("qrc:/Orlune/Ui/qml/") + QLatin1String(file)));
    if (engine.rootObjects().size() == before) return nullptr;
    return qobject_cast<QQuickWindow*>(engine.rootObjects().constLast());
}

}  // namespace

AppWindows::AppWindows(Shell& shell, Options options) : shell_(shell) {
    // The module lives in the resources at /Orlune/Ui (static build).
    engine_.addImportPath(QStringLiteral("qrc:/"));
    engine_.addImageProvider(QStringLiteral("icon"), new IconImageProvider);
    engine_.setInitialProperties({{QStringLiteral("shell"), QVariant::fromValue(&shell_)}});
    shell_.setSystemDark(systemIsDark());
    connect(&colorScheme_, &ColorSchemeWatch::changed, this, [this] { shell_.setSystemDark(systemIsDark()); });
    QCoreApplication::instance()->installEventFilter(this);
    const bool tray = options.useTray && QSystemTrayIcon::isSystemTrayAvailable();
    shell_.setTrayAvailable(tray);
    main_ = load(engine_, "Main.qml");
    menu_ = load(engine_, "shell/MenuWindow.qml");
    if (!loaded()) return;

    connect(main_, &QWindow::visibleChanged, this, [this](bool visible) { shell_.setWindowShown(visible); });
    connect(&shell_, &Shell::mainWindowRequested, this, &AppWindows::showMainWindow);
    connect(&shell_, &Shell::menuWindowRequested, this, &AppWindows::showMenuWindow);
    connect(&shell_, &Shell::quitRequested, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    // Closing decides for itself whether to quit: a tray may come later, a tunnel may be up.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    main_->installEventFilter(this);
    if (tray) {
        putUpTray();
    } else if (options.useTray) {
        // A panel started after the app (autostart) brings its tray late; Qt announces none.
        trayWatch_.setInterval(std::chrono::seconds(3));
        connect(&trayWatch_, &QTimer::timeout, this, [this] {
            if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
            trayWatch_.stop();
            putUpTray();
            shell_.setTrayAvailable(true);
        });
        trayWatch_.start();
    }
    if (options.showMain) showMainWindow();
}

AppWindows::~AppWindows() = default;

bool AppWindows::systemIsDark() const {
    return colorScheme_.prefersDark().value_or(paletteIsDark());
}

void AppWindows::putUpTray() {
    tray_ = std::make_unique<QSystemTrayIcon>();
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        icon.addPixmap(
            QPixmap::fromImage(renderIcon(QStringLiteral("shield.lefthalf.filled"), kTint, QSize(size, size))));
    }
    tray_->setIcon(icon);
    tray_->setToolTip(QStringLiteral("Orlune VPN"));
    connect(tray_.get(), &QSystemTrayIcon::activated, this, [this] { showMenuWindow(); });
    tray_->show();
}

bool AppWindows::eventFilter(QObject* watched, QEvent* event) {
    if (watched == QCoreApplication::instance() && event->type() == QEvent::ApplicationPaletteChange) {
        shell_.setSystemDark(systemIsDark());
    }
    if (watched == main_ && event->type() == QEvent::Close && !shell_.keepsRunningAfterClose()) {
        QCoreApplication::quit();
    }
    return QObject::eventFilter(watched, event);
}

void AppWindows::showMainWindow() {
    if (!main_) return;
    main_->show();
    main_->raise();
    main_->requestActivate();
}

void AppWindows::showMenuWindow() {
    if (!menu_) return;
    // Near the pointer (where the tray icon was pressed), kept on its screen.
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        QPoint at = QCursor::pos() - QPoint(menu_->width() / 2, 0);
        at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - menu_->width())));
        at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - menu_->height())));
        menu_->setPosition(at);
    }
    menu_->show();
    menu_->raise();
    menu_->requestActivate();
}

}  // namespace orlune::ui
