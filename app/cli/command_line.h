#pragma once

#include <QStringList>
#include <QTextStream>

#include <qcoro/qcorotask.h>

#include <functional>
#include <optional>
#include <utility>

#include "control/native_messages.h"

namespace orlune {

class AppModel;

// The headless front end: the same model as the window, driven from a terminal or a script.
//   countries [--json]            the countries that have recommended relays
//   servers [CODE] [--json]       the recommended relays, optionally of one country
//   connect CODE|RELAY-ID [--json] connect, then hold the tunnel until SIGINT or SIGTERM
//   --catalog FILE                (countries, servers, connect) a saved relay list, kept as the
//                                 last good catalog
//   history [--json]              the relays tried: outcomes, measured figures, last listed
//   status [--json]               the service's reply to "status"
//   disconnect [--json]           stop the tunnel and wait for normal routing
//   help [COMMAND], COMMAND --help, --help, --version
// The exit statuses and the JSON shapes are documented in orlune-vpn(1); scripts rely on them.
class CommandLine {
public:
    enum ExitStatus : int {
        kSuccess = 0,
        kFailure = 1,
        kUsageError = 2,
        kNotConnected = 3,
        kServiceUnavailable = 4,
    };

    struct Io {
        QTextStream& out;
        QTextStream& err;
        // Asks the service for its status (one control exchange).
        std::function<NativeReply()> serviceStatus;
    };

    CommandLine(AppModel& model, Io io) : model_(model), io_(std::move(io)) {}

    // Whether `arguments` (without the program name) name a command of this front end.
    static bool handles(const QStringList& arguments);
    static QString usage();

    // Answers what needs neither the model nor the network: help, the version and usage errors.
    // Nothing when `arguments` are a command to run.
    static std::optional<int> answerDirectly(const QStringList& arguments, QTextStream& out, QTextStream& err);

    // Runs the command; the result is the process exit status.
    QCoro::Task<int> run(QStringList arguments);

private:
    QCoro::Task<int> countries(bool json);
    QCoro::Task<int> servers(const QString& code, bool json);
    QCoro::Task<int> connect(const QString& target, bool json);
    QCoro::Task<int> status(bool json);
    int history(bool json);
    QCoro::Task<int> disconnect(bool json);
    QCoro::Task<bool> loadCatalog(bool forConnect = false);
    void printState(bool json);
    // The figures measured through the tunnel, once they are in.
    void printMeasurement(bool json);
    // Another live process of the app holds the tunnel; says so on standard error.
    bool heldElsewhere();
    // A failure's exit status: whether the service could be reached at all tells them apart.
    int failureStatus(int whenServiceAnswers);
    // Keeps the country codes and relay ids for the shell completion; a failure only loses that.
    void rememberCompletionWords();

    AppModel& model_;
    Io io_;
    std::optional<QString> catalogFile_;  // --catalog FILE
};

}  // namespace orlune
