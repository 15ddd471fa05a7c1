#pragma once

#include <QObject>
#include <QPointer>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTimer>

#include <memory>

#include "platform/color_scheme.h"

class QSystemTrayIcon;

namespace orlune::ui {

class Shell;

// The window and the tray window over one shell: loads both from the QML module, shows the
// main window, answers the shell's requests, and puts up the tray icon when the desktop has a
// tray, or once one appears. Without a tray, closing the window quits unless a tunnel is held
// or being made; then the app stays, and starting it again shows the window.
class AppWindows : public QObject {
    Q_OBJECT

public:
    struct Options {
        bool useTray = true;   // off for rendering without a desktop
        bool showMain = true;  // show the main window at once
    };
    AppWindows(Shell& shell, Options options);
    ~AppWindows() override;

    // False when QML failed to load; the engine's warnings say why.
    bool loaded() const { return main_ && menu_; }
    QQuickWindow* mainWindow() const { return main_; }
    QQuickWindow* menuWindow() const { return menu_; }
    QQmlApplicationEngine& engine() { return engine_; }
    QSystemTrayIcon* trayIcon() const { return tray_.get(); }

    void showMainWindow();
    void showMenuWindow();

protected:
    // Follows the palette's switch between light and dark while running (the fallback when the
    // desktop states no preference); decides on quitting when the main window is closed.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void putUpTray();
    // The desktop's colour-scheme preference, else the palette's lightness.
    bool systemIsDark() const;

    Shell& shell_;
    QQmlApplicationEngine engine_;
    QPointer<QQuickWindow> main_;
    QPointer<QQuickWindow> menu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    QTimer trayWatch_;
    ColorSchemeWatch colorScheme_;
};

}  // namespace orlune::ui
