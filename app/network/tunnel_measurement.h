#pragma once

#include <QUrl>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

namespace orlune {

// What a measurement may cost: the throughput download stops at whichever limit comes first.
struct MeasurementLimits {
    int roundTrips = 4;  // small requests after the one that opens the connection
    qint64 maxBytes = 4 * 1024 * 1024;
    std::chrono::milliseconds maxDuration{4'000};
    std::chrono::milliseconds requestTimeout{5'000};
};

// The shortest of a few small requests to `url` over one kept-alive connection (the first, which
// opens it, does not count), in milliseconds. Nothing when no request was answered. Never throws.
QCoro::Task<std::optional<qint64>> measureRoundTrip(QUrl url, MeasurementLimits limits = {});

// The rate of a download from `url` in bits per second, from its first byte until it ends or a
// limit is reached; the download is then abandoned. Nothing when too little arrived to tell or
// the answer was not a success. Never throws.
QCoro::Task<std::optional<qint64>> measureThroughput(QUrl url, MeasurementLimits limits = {});

}  // namespace orlune
