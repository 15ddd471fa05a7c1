#include "network/internet_reachability.h"

#include <array>
#include <vector>

#include <QTimer>

#include <qcoro/qcoronetworkreply.h>
#include <qcoro/qcorotimer.h>

#include "network/endpoints.h"
#include "network/http.h"
#include "network/interface_check.h"

namespace orlune::InternetReachability {
namespace {

// Four operators, so that one provider's outage or block does not read as "no Internet".
std::array<QUrl, 4> probeEndpoints() {
    const Endpoints endpoints = Endpoints::current();
    return {endpoints.connectivityCheck, endpoints.traceEcho, endpoints.plainEchoes[0], endpoints.catalog};
}

ReplyPtr startProbe(const QUrl& url) {
    if (!url.isValid()) return nullptr;
    QNetworkRequest request = makeRequest(url, NetworkTimeouts::current().probe, CacheUse::ignoreLocal);
    request.setRawHeader("Cache-Control", "no-cache");
    return startGet(sharedNetworkAccess(), request);
}

bool probeSucceeded(const QNetworkReply& reply) {
    const std::optional<int> status = httpStatus(reply);
    return status && *status >= 200 && *status <= 399;
}

}  // namespace

bool isPhysicalNetworkInterfaceUp() {
    return anyPhysicalInterfaceUp(readInterfaceAddresses());
}

QCoro::Task<bool> isInternetReachable() {
    return isInternetReachable(&isPhysicalNetworkInterfaceUp);
}

QCoro::Task<bool> isInternetReachable(std::function<bool()> physicalLinkUp) {
    if (!physicalLinkUp()) co_return false;
    // All four are in flight before the first wait; awaiting them in turn waits for the slowest.
    std::vector<ReplyPtr> probes;
    for (const QUrl& url : probeEndpoints()) probes.push_back(startProbe(url));
    bool reachable = false;
    for (ReplyPtr& probe : probes) {
        if (!probe) continue;
        co_await qCoro(probe.get()).waitForFinished();
        if (probeSucceeded(*probe)) reachable = true;
    }
    co_return reachable;
}

QCoro::Task<bool> anyProbeAnswers() {
    if (!isPhysicalNetworkInterfaceUp()) co_return false;
    std::vector<ReplyPtr> probes;
    for (const QUrl& url : probeEndpoints()) {
        if (ReplyPtr probe = startProbe(url)) probes.push_back(std::move(probe));
    }
    // Fires when any probe finishes; the long interval only guards against a lost signal.
    QTimer finished;
    finished.setSingleShot(true);
    for (const ReplyPtr& probe : probes) {
        QObject::connect(probe.get(), &QNetworkReply::finished, &finished, [&finished] { finished.start(0); });
    }
    for (;;) {
        bool pending = false;
        for (const ReplyPtr& probe : probes) {
            if (!probe->isFinished()) {
                pending = true;
            } else if (probeSucceeded(*probe)) {
                co_return true;
            }
        }
        if (!pending) co_return false;
        finished.start(NetworkTimeouts::current().probe + std::chrono::seconds(1));
        co_await finished;
    }
}

}  // namespace orlune::InternetReachability
