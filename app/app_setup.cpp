#include "app_setup.h"

#include <QCoreApplication>

#include "build_info.h"
#include "catalog/vpngate_provider.h"
#include "model/catalog_preferences.h"
#include "model/relay_history.h"
#include "network/endpoints.h"
#include "network/tunnel_measurement.h"
#include "platform/network_path_monitor_linux.h"
#include "platform/sleep_monitor_logind_linux.h"
#include "tunnel/native_tunnel_provider.h"
#include "tunnel/tunnel_holder.h"

namespace orlune::app {

std::shared_ptr<CatalogAccess> makeCatalogAccess(Preferences& preferences, QTextStream& err) {
    auto access = std::make_shared<CatalogAccess>(CatalogCache(CatalogCache::defaultPath()));
    if (const auto problem = applyCatalogPreferences(*access, preferences)) {
        err << "Orlune VPN: " << *problem << '\n' << Qt::flush;
    }
    QObject::connect(&preferences, &Preferences::changed, &preferences, [access, &preferences](const QString& key) {
        if (key.startsWith(QLatin1String("catalog"))) applyCatalogPreferences(*access, preferences);
    });
    return access;
}

std::unique_ptr<AppModel> makeModel(Preferences& preferences, std::shared_ptr<CatalogAccess> catalogAccess) {
    AppModel::Dependencies dependencies;
    dependencies.preferences = &preferences;
    dependencies.catalogProvider = std::make_unique<VPNGateProvider>(catalogAccess);
    NativeTunnelProvider::Dependencies tunnel;
    tunnel.catalogAccess = std::move(catalogAccess);
    // Another live process's tunnel is never stopped or replaced from here.
    dependencies.tunnelProvider =
        std::make_unique<SharedTunnelGuard>(std::make_unique<NativeTunnelProvider>(std::move(tunnel)));
    dependencies.network = std::make_unique<SystemNetworkChecks>();
    dependencies.clock = std::make_unique<SystemClock>();
    dependencies.pathMonitor = std::make_unique<LinuxNetworkPathMonitor>();
    dependencies.history = std::make_unique<RelayHistoryStore>(RelayHistoryStore::defaultPath());
    dependencies.measurer = std::make_unique<SystemTunnelMeasurer>();
    dependencies.sleepMonitor = std::make_unique<LogindSleepMonitor>();
    return std::make_unique<AppModel>(std::move(dependencies));
}

void nameApplication() {
    QCoreApplication::setOrganizationName(QStringLiteral("Orlune"));
    QCoreApplication::setApplicationName(QStringLiteral("Orlune VPN"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORLUNE_APP_VERSION));
}

bool useEndpointsFromEnvironment(QTextStream& err) {
    try {
        Endpoints::setCurrent(Endpoints::fromEnvironment());
        return true;
    } catch (const std::exception& error) {
        err << "Orlune VPN: " << QString::fromUtf8(error.what()) << '\n' << Qt::flush;
        return false;
    }
}

}  // namespace orlune::app
