#include "network/tunnel_measurement.h"

#include <QElapsedTimer>
#include <QTimer>

#include <qcoro/qcorotimer.h>

#include <algorithm>

#include "network/http.h"

namespace orlune {
namespace {

constexpr std::chrono::milliseconds kPollInterval{50};
// Below this the figure says more about the first packets than about the line.
constexpr qint64 kMinimumBytes = 64 * 1024;

QCoro::Task<> pause(std::chrono::milliseconds duration) {
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(duration);
    co_await timer;
}

}  // namespace

QCoro::Task<std::optional<qint64>> measureRoundTrip(QUrl url, MeasurementLimits limits) {
    if (url.isEmpty()) co_return std::nullopt;
    std::optional<qint64> best;
    try {
        const auto access = freshNetworkAccess();
        for (int i = 0; i <= limits.roundTrips; ++i) {
            QElapsedTimer timer;
            timer.start();
            const HttpAnswer answer =
                co_await get(*access, makeRequest(url, limits.requestTimeout, CacheUse::ignoreLocal));
            // Whole milliseconds, rounded up: an answer is never quicker than 1 ms.
            const qint64 elapsed = std::max<qint64>(1, (timer.nsecsElapsed() + 999'999) / 1'000'000);
            if (answer.status >= 400) co_return std::nullopt;
            if (i > 0) best = std::min(best.value_or(elapsed), elapsed);
        }
    } catch (...) {
        // A lost request ends the measurement with what it has.
    }
    co_return best;
}

QCoro::Task<std::optional<qint64>> measureThroughput(QUrl url, MeasurementLimits limits) {
    if (url.isEmpty()) co_return std::nullopt;
    try {
        const auto access = freshNetworkAccess();
        ReplyPtr reply = startGet(*access, makeRequest(url, limits.requestTimeout, CacheUse::ignoreLocal));
        QElapsedTimer whole;
        whole.start();
        QElapsedTimer sinceFirstByte;
        qint64 counted = 0;
        // Reading in turns keeps at most one interval's data in memory.
        while (true) {
            const bool finished = reply->isFinished();
            const QByteArray chunk = reply->readAll();
            if (!chunk.isEmpty()) {
                // The first data also carries the handshake's delay: the clock starts after it.
                if (!sinceFirstByte.isValid()) {
                    sinceFirstByte.start();
                } else {
                    counted += chunk.size();
                }
            }
            const auto status = httpStatus(*reply);
            if (status && (*status < 200 || *status >= 300)) co_return std::nullopt;
            if (finished || counted >= limits.maxBytes || whole.elapsed() >= limits.maxDuration.count()) break;
            co_await pause(kPollInterval);
        }
        const bool failed = reply->isFinished() && reply->error() != QNetworkReply::NoError;
        reply->abort();
        if (failed || counted < kMinimumBytes || !sinceFirstByte.isValid()) co_return std::nullopt;
        const qint64 elapsed = std::max<qint64>(sinceFirstByte.elapsed(), 1);
        co_return counted * 8 * 1000 / elapsed;
    } catch (...) {
        co_return std::nullopt;
    }
}

}  // namespace orlune
