// The Orlune VPN program: the window (without arguments) or the headless command line.
#include <QApplication>
#include <QCoreApplication>
#include <QQmlExtensionPlugin>
#include <QQuickWindow>
#include <QTextStream>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>

#include "build_info.h"
#include "catalog/vpngate_provider.h"
#include "cli/command_line.h"
#include "control/native_wire.h"
#include "model/app_model.h"
#include "model/catalog_preferences.h"
#include "network/endpoints.h"
#include "network/http.h"
#include "platform/network_path_monitor_linux.h"
#include "platform/single_instance.h"
#include "platform/sleep_monitor_logind_linux.h"
#include "tunnel/native_tunnel_provider.h"
#include "tunnel/tunnel_holder.h"
#include "ui/app_windows.h"
#include "ui/notification_sink.h"
#include "ui/shell.h"

Q_IMPORT_QML_PLUGIN(Orlune_UiPlugin)

namespace {

// The catalog refresh and the profile download share one access: the same mirrors, proxy and
// kept catalog. Preference changes apply to the next download.
std::shared_ptr<orlune::CatalogAccess> makeCatalogAccess(orlune::Preferences& preferences, QTextStream& err) {
    auto access = std::make_shared<orlune::CatalogAccess>(orlune::CatalogCache(orlune::CatalogCache::defaultPath()));
    if (const auto problem = orlune::applyCatalogPreferences(*access, preferences)) {
        err << "Orlune VPN: " << *problem << '\n' << Qt::flush;
    }
    QObject::connect(&preferences, &orlune::Preferences::changed, &preferences,
                     [access, &preferences](const QString& key) {
                         if (key.startsWith(QLatin1String("catalog"))) orlune::applyCatalogPreferences(*access, preferences);
                     });
    return access;
}

std::unique_ptr<orlune::AppModel> makeModel(orlune::Preferences& preferences,
                                            std::shared_ptr<orlune::CatalogAccess> catalogAccess) {
    orlune::AppModel::Dependencies dependencies;
    dependencies.preferences = &preferences;
    dependencies.catalogProvider = std::make_unique<orlune::VPNGateProvider>(catalogAccess);
    orlune::NativeTunnelProvider::Dependencies tunnel;
    tunnel.catalogAccess = std::move(catalogAccess);
    // Another live process's tunnel is never stopped or replaced from here.
    dependencies.tunnelProvider = std::make_unique<orlune::SharedTunnelGuard>(
        std::make_unique<orlune::NativeTunnelProvider>(std::move(tunnel)));
    dependencies.network = std::make_unique<orlune::SystemNetworkChecks>();
    dependencies.clock = std::make_unique<orlune::SystemClock>();
    dependencies.pathMonitor = std::make_unique<orlune::LinuxNetworkPathMonitor>();
    dependencies.sleepMonitor = std::make_unique<orlune::LogindSleepMonitor>();
    return std::make_unique<orlune::AppModel>(std::move(dependencies));
}

void nameApplication() {
    QCoreApplication::setOrganizationName(QStringLiteral("Orlune"));
    QCoreApplication::setApplicationName(QStringLiteral("Orlune VPN"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORLUNE_APP_VERSION));
}

orlune::ui::AppIdentity appIdentity() {
    auto present = [](const char* value) {
        return *value ? std::optional<QString>(QString::fromUtf8(value)) : std::nullopt;
    };
    return {present(ORLUNE_APP_VERSION), present(ORLUNE_BUILD_NUMBER)};
}

// An endpoints file that cannot be used stops the program: falling back to the public services
// is exactly what its author meant to avoid.
bool useEndpointsFromEnvironment(QTextStream& err) {
    try {
        orlune::Endpoints::setCurrent(orlune::Endpoints::fromEnvironment());
        return true;
    } catch (const std::exception& error) {
        err << "Orlune VPN: " << QString::fromUtf8(error.what()) << '\n' << Qt::flush;
        return false;
    }
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

// The window: one model for the process, shown by the main window and the tray window.
int runWindow(int argc, char** argv) {
    QApplication app(argc, argv);
    nameApplication();
    QApplication::setApplicationDisplayName(QStringLiteral("Orlune VPN"));
    QApplication::setDesktopFileName(QStringLiteral("orlune-vpn"));
    QTextStream err(stderr);
    if (!useEndpointsFromEnvironment(err)) return 2;
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
        auto catalogAccess = makeCatalogAccess(*preferences, err);
        auto model = makeModel(*preferences, catalogAccess);
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
            model->start();
            status = QApplication::exec();
        }
    }
    // Quitting sends nothing to the service: it notices the process is gone and stops the tunnel.
    orlune::releaseSharedNetworkAccess();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc <= 1) return runWindow(argc, argv);

    QCoreApplication app(argc, argv);
    nameApplication();
    QTextStream out(stdout);
    QTextStream err(stderr);

    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (const auto answered = orlune::CommandLine::answerDirectly(arguments, out, err)) return *answered;
    if (!useEndpointsFromEnvironment(err)) return orlune::CommandLine::kUsageError;
    // A closed output pipe must not end the program in the middle of a disconnect.
    std::signal(SIGPIPE, SIG_IGN);
    auto preferences = orlune::Preferences::forUser();
    auto catalogAccess = makeCatalogAccess(*preferences, err);
    auto model = makeModel(*preferences, catalogAccess);
    orlune::CommandLine commandLine(*model, {out, err, [] {
                                                return orlune::NativeWire::request(
                                                    orlune::NativeRequest{"status", {}, {}});
                                            }});
    int status = 0;
    auto run = [&]() -> QCoro::Task<> {
        try {
            status = co_await commandLine.run(arguments);
        } catch (const std::exception& error) {
            err << "Orlune VPN: " << QString::fromUtf8(error.what()) << '\n' << Qt::flush;
            status = 1;
        }
        QCoreApplication::quit();
    };
    QTimer::singleShot(0, &app, [&] { run(); });
    QCoreApplication::exec();
    orlune::releaseSharedNetworkAccess();
    return status;
}
