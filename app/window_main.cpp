// The window, a module the orlune-vpn program loads only when it opens the window: the command
// line then never loads Qt Quick, QML or Widgets.
#include <QApplication>
#include <QQmlExtensionPlugin>
#include <QQuickWindow>
#include <QTextStream>
#include <QTimer>

#include <malloc.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>

#include "app_setup.h"
#include "build_info.h"
#include "network/http.h"
#include "platform/single_instance.h"
#include "ui/app_windows.h"
#include "ui/notification_sink.h"
#include "ui/shell.h"

Q_IMPORT_QML_PLUGIN(Orlune_UiPlugin)

namespace {

orlune::ui::AppIdentity appIdentity() {
    auto present = [](const char* value) {
        return *value ? std::optional<QString>(QString::fromUtf8(value)) : std::nullopt;
    };
    return {present(ORLUNE_APP_VERSION), present(ORLUNE_BUILD_NUMBER)};
}

// With ORLUNE_REPORT_FIRST_FRAME set, the wall-clock time of the main window's first frame goes
// to standard error, so a benchmark that noted when it started the program can tell the start-up.
void reportFirstFrame(QQuickWindow* window) {
    if (!window || qEnvironmentVariableIsEmpty("ORLUNE_REPORT_FIRST_FRAME")) return;
    auto once = std::make_shared<QMetaObject::Connection>();
    *once = QObject::connect(window, &QQuickWindow::frameSwapped, window, [once] {
        QObject::disconnect(*once);
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        std::fprintf(stderr, "first_frame_epoch_ns=%lld\n",
                     static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
        std::fflush(stderr);
    });
}

// glibc's allocator, tuned for a process that idles for hours after a burst of work. The catalog's
// text and its parsed rows (several MB at a time) are blocks from mmap that go back to the system
// when freed; left to itself, glibc raises that threshold after the first such block is freed, and
// the next catalogs land in the heap and stay there. (The program's main() already limits the
// arenas.)
void tuneAllocator() {
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
}

// What a catalog refresh freed (the download, its text, the rows it replaced) goes back to the
// system once the window has settled on the new list, not only when glibc finds a free block at
// the heap's very top.
void releaseFreedMemoryAfterRefreshes(orlune::AppModel& model) {
    auto* settle = new QTimer(&model);
    settle->setSingleShot(true);
    settle->setInterval(std::chrono::seconds(2));
    QObject::connect(settle, &QTimer::timeout, [] { malloc_trim(0); });
    QObject::connect(&model, &orlune::AppModel::catalogRefreshFinished, settle, qOverload<>(&QTimer::start));
}

}  // namespace

// The window: one model for the process, shown by the main window and the tray window.
extern "C" __attribute__((visibility("default"))) int orluneRunWindow(int argc, char** argv) {
    tuneAllocator();
    QApplication app(argc, argv);
    orlune::app::nameApplication();
    QApplication::setApplicationDisplayName(QStringLiteral("Orlune VPN"));
    QApplication::setDesktopFileName(QStringLiteral("orlune-vpn"));
    QTextStream err(stderr);
    if (!orlune::app::useEndpointsFromEnvironment(err)) return 2;
    std::signal(SIGPIPE, SIG_IGN);
    // A second start only brings the first one's window forward: it reads no preferences and
    // never talks to the service, so the first one's tunnel stays as it is.
    orlune::SingleInstance instance;
    if (instance.role() == orlune::SingleInstance::Role::second) {
        if (instance.activateFirst()) return 0;
        err << "Orlune VPN is already running, but its window did not answer.\n" << Qt::flush;
        return 1;
    }
    if (!instance.problem().isEmpty()) err << "Orlune VPN: " << instance.problem() << '\n' << Qt::flush;
    int status = 0;
    {
        auto preferences = orlune::Preferences::forUser();
        auto catalogAccess = orlune::app::makeCatalogAccess(*preferences, err);
        auto model = orlune::app::makeModel(*preferences, catalogAccess);
        orlune::ui::Shell shell(*model, *preferences, orlune::ui::makeDesktopNotificationSink());
        shell.setServices(orlune::ui::DesktopServices::system(appIdentity()));
        shell.setCatalogAccess(catalogAccess);
        orlune::ui::AppWindows windows(shell, {});
        if (!windows.loaded()) {
            err << "Orlune VPN: the window could not be loaded.\n" << Qt::flush;
            status = 1;
        } else {
            QObject::connect(&instance, &orlune::SingleInstance::activationRequested, &windows,
                             &orlune::ui::AppWindows::showMainWindow);
            reportFirstFrame(windows.mainWindow());
            releaseFreedMemoryAfterRefreshes(*model);
            model->start();
            status = QApplication::exec();
        }
    }
    // Quitting sends nothing to the service: it notices the process is gone and stops the tunnel.
    orlune::releaseSharedNetworkAccess();
    return status;
}
