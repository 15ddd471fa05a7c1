#pragma once

// Scripted stand-ins for everything the model talks to.

#include <QObject>
#include <QSettings>
#include <QTemporaryDir>

#include <qcoro/qcorosignal.h>

#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "model/app_model.h"

namespace orlune::test {

// A relay of `country` whose quality is given by ping and speed (score = speed / ping).
Relay makeRelay(const QString& name, const QString& country, const QString& code, qint64 ping,
                qint64 speedBitsPerSecond, const QString& address = {});

// Holds a fake's answer back until the test opens it.
class Gate : public QObject {
    Q_OBJECT

public:
    bool isOpen() const { return open_; }
    void open() {
        open_ = true;
        emit opened();
    }
    QCoro::Task<> wait() {
        if (!open_) co_await qCoro(this, &Gate::opened);
    }

signals:
    void opened();

private:
    bool open_ = false;
};

struct FakeCatalog final : ServerCatalogProvider {
    std::vector<Relay> relays;
    std::exception_ptr error;  // thrown instead of answering when set
    Gate* gate = nullptr;      // answer only once open
    int fetches = 0;
    int pending = 0;  // fetches asked and not yet answered

    QCoro::Task<std::vector<Relay>> fetch() override;

    // When set and `error` is set too: what the fallback offers instead (the kept catalog).
    std::optional<CatalogFetch> kept;
    QCoro::Task<CatalogFetch> fetchWithFallback() override;
};

struct FakeTunnel final : TunnelConnectionProvider {
    // What connect answers, per relay id; a relay without an entry gets a verification that
    // passes every check (interface tun0, address "exit-" + relay address, the relay's country).
    std::map<QString, std::variant<TunnelVerification, std::exception_ptr>> outcomes;
    std::vector<QString> progressLines;  // sent to the model during each connect
    Gate* connectGate = nullptr;         // connect waits for it before answering
    std::exception_ptr disconnectError;
    Gate* disconnectGate = nullptr;  // disconnect waits for it before answering
    std::exception_ptr recoverError;
    bool tunnelActive = true;
    std::optional<QString> engine = QStringLiteral("2.6.14");  // none: the service does not answer

    // Behave like the service's client: a newer connect or a stop makes a waiting connect throw
    // CancellationError, and the tunnel is active only while the service holds one.
    bool faithful = false;
    std::function<void(const QString& id)> answered;  // told of every connect that was not cancelled

    std::vector<QString> connectedIDs;
    // Kept profiles the model asked for (relay id, profile); a connect to that relay runs with it
    // and verifies with it, as the real provider does. Other connects run with "profile of <id>".
    std::vector<std::pair<QString, QString>> keptProfiles;
    void useKeptProfile(const QString& relayId, const QString& profile) override {
        keptProfiles.emplace_back(relayId, profile);
    }
    int disconnects = 0;
    int recoveries = 0;
    // The relay whose engine the fake service runs: set by a connect that got as far as starting
    // it, cleared by a stop (at its start, as the service stops before answering).
    std::optional<QString> holding;
    bool stoppedOnRequest = false;  // the service reports a stop somebody asked for

    // Another process (the command line) stops the tunnel.
    void stopElsewhere() {
        ++generation_;
        holding.reset();
        stoppedOnRequest = true;
    }

    static TunnelVerification verified(const Relay& relay);

    QCoro::Task<TunnelVerification> connect(Relay relay, std::optional<QString> originalIP, Progress progress) override;
    QCoro::Task<> disconnect() override;
    QCoro::Task<> recoverStaleConnections() override;
    QCoro::Task<bool> isTunnelActive() override;
    QCoro::Task<TunnelHealth> tunnelHealth() override;
    QCoro::Task<std::optional<QString>> engineVersion() override;

private:
    int generation_ = 0;
};

struct FakeNetwork final : NetworkChecks {
    bool reachable = true;
    bool physicalUp = true;
    std::optional<QString> address = QStringLiteral("203.0.113.10");
    int reachabilityChecks = 0;
    int addressLookups = 0;
    Gate* quickCheckGate = nullptr;  // anyCheckAnswers waits for it before answering

    QCoro::Task<bool> isInternetReachable() override;
    QCoro::Task<bool> anyCheckAnswers() override;
    bool isPhysicalNetworkInterfaceUp() override { return physicalUp; }
    QCoro::Task<QString> publicIP() override;
};

struct FakeMeasurer final : TunnelMeasurer {
    std::optional<qint64> rtt;
    std::optional<qint64> throughput;
    Gate* gate = nullptr;  // the round trip answers only once open
    int downloads = 0;

    QCoro::Task<std::optional<qint64>> roundTripMilliseconds() override;
    QCoro::Task<std::optional<qint64>> throughputBitsPerSecond() override;
};

struct FakeClock final : ModelClock {
    // Real time; the wall clock reads it moved by `wallShift` (a change of the system's clock).
    QDateTime current = QDateTime(QDate(2026, 12, 8), QTime(12, 0), Qt::UTC);
    std::chrono::milliseconds wallShift{0};
    std::vector<std::chrono::milliseconds> sleeps;

    QDateTime now() const override { return current.addMSecs(wallShift.count()); }
    std::chrono::milliseconds elapsed() const override {
        return std::chrono::milliseconds(current.toMSecsSinceEpoch());
    }
    QCoro::Task<> sleep(std::chrono::milliseconds duration) override;
};

// A model over fakes, with preferences in a temporary file that a second model can reopen.
class ModelFixture {
public:
    ModelFixture();
    ~ModelFixture();

    // A new model over the same fakes' settings file; the previous model is destroyed first.
    AppModel& rebuild();
    AppModel& model() { return *model_; }
    Preferences& preferences() { return *preferences_; }
    QString settingsPath() const { return directory_.filePath("preferences.ini"); }

    FakeCatalog* catalog = nullptr;
    FakeMeasurer* measurer = nullptr;
    FakeTunnel* tunnel = nullptr;
    FakeNetwork* network = nullptr;
    FakeClock* clock = nullptr;

private:
    QTemporaryDir directory_;
    std::unique_ptr<Preferences> preferences_;
    std::unique_ptr<AppModel> model_;
    // Settings of the fakes that survive a rebuild.
    FakeCatalog catalogState_;
    FakeNetwork networkState_;
    QDateTime clockState_;
    std::chrono::milliseconds wallShiftState_{0};
};

}  // namespace orlune::test
