#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

namespace orlune {

// The network facts the model asks for. The real implementation asks the network; tests
// script the answers.
class NetworkChecks {
public:
    virtual ~NetworkChecks() = default;
    // Whether at least one independent external check answers. Never throws.
    virtual QCoro::Task<bool> isInternetReachable() = 0;
    // The same checks, true as soon as the first one answers. Never throws.
    virtual QCoro::Task<bool> anyCheckAnswers() { co_return co_await isInternetReachable(); }
    // Whether a physical (wired, Wi-Fi, mobile) interface is up with an address.
    virtual bool isPhysicalNetworkInterfaceUp() = 0;
    // The public IPv4 address seen from outside; throws when no endpoint gives one.
    virtual QCoro::Task<QString> publicIP() = 0;
};

// Measures the tunnel that is up (its traffic follows the default route through it). Each figure
// is nothing when it could not be had; neither ever throws.
class TunnelMeasurer {
public:
    virtual ~TunnelMeasurer() = default;
    virtual QCoro::Task<std::optional<qint64>> roundTripMilliseconds() = 0;
    virtual QCoro::Task<std::optional<qint64>> throughputBitsPerSecond() = 0;
};

// Time and waiting. Tests use a clock they move by hand and waits that end at once.
class ModelClock {
public:
    virtual ~ModelClock() = default;
    // The wall clock: for times that are shown or stored. It may jump (a user's change, NTP).
    virtual QDateTime now() const = 0;
    // Time since an arbitrary origin that counts suspend and never jumps: for intervals that
    // must last a given real time. Without a better source, the wall clock's reading.
    virtual std::chrono::milliseconds elapsed() const { return std::chrono::milliseconds(now().toMSecsSinceEpoch()); }
    virtual QCoro::Task<> sleep(std::chrono::milliseconds duration) = 0;
};

// Reports of the network path: satisfied when a physical interface is up with an address and
// a default IPv4 route exists.
enum class NetworkPathStatus { satisfied, unsatisfied, requiresConnection };

class NetworkPathMonitor : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    // Begins reporting; each change of the path is reported once, bursts folded together.
    virtual void start() = 0;

signals:
    void pathChanged(orlune::NetworkPathStatus status);
};

// Reports of the system going to sleep and waking up again.
class SleepMonitor : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    // Begins reporting; without a source of such reports (no system bus) it reports nothing.
    virtual void start() = 0;

signals:
    void aboutToSleep();
    void woke();
};

// The real ones.
class SystemNetworkChecks final : public NetworkChecks {
public:
    QCoro::Task<bool> isInternetReachable() override;
    QCoro::Task<bool> anyCheckAnswers() override;
    bool isPhysicalNetworkInterfaceUp() override;
    QCoro::Task<QString> publicIP() override;
};

// The round trip to the connectivity check; the throughput of the speed-test download.
class SystemTunnelMeasurer final : public TunnelMeasurer {
public:
    QCoro::Task<std::optional<qint64>> roundTripMilliseconds() override;
    QCoro::Task<std::optional<qint64>> throughputBitsPerSecond() override;
};

class SystemClock final : public ModelClock {
public:
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }
    std::chrono::milliseconds elapsed() const override;
    QCoro::Task<> sleep(std::chrono::milliseconds duration) override;
};

}  // namespace orlune
