#include "model/model_environment.h"

#include <QTimer>

#include <qcoro/qcorotimer.h>

#include "network/elapsed_time.h"
#include "network/endpoints.h"
#include "network/internet_reachability.h"
#include "network/public_ip_lookup.h"
#include "network/tunnel_measurement.h"

namespace orlune {

QCoro::Task<bool> SystemNetworkChecks::isInternetReachable() {
    co_return co_await InternetReachability::isInternetReachable();
}

QCoro::Task<bool> SystemNetworkChecks::anyCheckAnswers() {
    co_return co_await InternetReachability::anyProbeAnswers();
}

bool SystemNetworkChecks::isPhysicalNetworkInterfaceUp() {
    return InternetReachability::isPhysicalNetworkInterfaceUp();
}

QCoro::Task<QString> SystemNetworkChecks::publicIP() {
    co_return co_await PublicIPLookup::current();
}

QCoro::Task<std::optional<qint64>> SystemTunnelMeasurer::roundTripMilliseconds() {
    co_return co_await measureRoundTrip(Endpoints::current().connectivityCheck);
}

QCoro::Task<std::optional<qint64>> SystemTunnelMeasurer::throughputBitsPerSecond() {
    co_return co_await measureThroughput(Endpoints::current().speedTest);
}

std::chrono::milliseconds SystemClock::elapsed() const {
    return elapsedSinceBoot();
}

QCoro::Task<> SystemClock::sleep(std::chrono::milliseconds duration) {
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(duration);
    co_await timer;
}

}  // namespace orlune
