// The Orlune VPN program: the window (without arguments) or the headless command line.
#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>

#include "catalog/vpngate_provider.h"
#include "cli/command_line.h"
#include "control/native_wire.h"
#include "model/app_model.h"
#include "network/endpoints.h"
#include "platform/network_path_monitor_linux.h"
#include "tunnel/native_tunnel_provider.h"

namespace {

std::unique_ptr<orlune::AppModel> makeModel(orlune::Preferences& preferences) {
    orlune::AppModel::Dependencies dependencies;
    dependencies.preferences = &preferences;
    dependencies.catalogProvider = std::make_unique<orlune::VPNGateProvider>();
    dependencies.tunnelProvider = std::make_unique<orlune::NativeTunnelProvider>();
    dependencies.network = std::make_unique<orlune::SystemNetworkChecks>();
    dependencies.clock = std::make_unique<orlune::SystemClock>();
    dependencies.pathMonitor = std::make_unique<orlune::LinuxNetworkPathMonitor>();
    return std::make_unique<orlune::AppModel>(std::move(dependencies));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orlune"));
    QCoreApplication::setApplicationName(QStringLiteral("Orlune VPN"));
    QTextStream out(stdout);
    QTextStream err(stderr);

    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty()) {
        err << "Orlune VPN: the window is not part of this build yet; use a command.\n"
            << orlune::CommandLine::usage() << Qt::flush;
        return 2;
    }
    if (!orlune::CommandLine::handles(arguments)) {
        err << orlune::CommandLine::usage() << Qt::flush;
        return 2;
    }
    if (arguments.first() == "--help" || arguments.first() == "-h" || arguments.first() == "help") {
        out << orlune::CommandLine::usage() << Qt::flush;
        return 0;
    }
    try {
        // An endpoints file that cannot be used stops the program: falling back to the public
        // services is exactly what its author meant to avoid.
        orlune::Endpoints::setCurrent(orlune::Endpoints::fromEnvironment());
    } catch (const std::exception& error) {
        err << "Orlune VPN: " << QString::fromUtf8(error.what()) << '\n' << Qt::flush;
        return 2;
    }

    // A closed output pipe must not end the program in the middle of a disconnect.
    std::signal(SIGPIPE, SIG_IGN);
    auto preferences = orlune::Preferences::forUser();
    auto model = makeModel(*preferences);
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
    return status;
}
