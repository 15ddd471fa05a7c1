#pragma once

#include <QStringList>
#include <QTextStream>

#include <qcoro/qcorotask.h>

#include <functional>

#include "control/native_messages.h"

namespace orlune {

class AppModel;

// The headless front end: the same model as the window, driven from a terminal or a script.
//   countries [--json]            the countries that have recommended relays
//   servers [CODE] [--json]       the recommended relays, optionally of one country
//   connect CODE|RELAY-ID [--json] connect, then hold the tunnel until SIGINT or SIGTERM
//   status [--json]               the service's reply to "status"
//   disconnect [--json]           stop the tunnel and wait for normal routing
class CommandLine {
public:
    struct Io {
        QTextStream& out;
        QTextStream& err;
        // Asks the service for its status (one control exchange).
        std::function<NativeReply()> serviceStatus;
    };

    CommandLine(AppModel& model, Io io) : model_(model), io_(io) {}

    // Whether `arguments` (without the program name) name a command of this front end.
    static bool handles(const QStringList& arguments);
    static QString usage();

    // Runs the command; the result is the process exit status.
    QCoro::Task<int> run(QStringList arguments);

private:
    QCoro::Task<int> countries(bool json);
    QCoro::Task<int> servers(const QString& code, bool json);
    QCoro::Task<int> connect(const QString& target, bool json);
    QCoro::Task<int> status(bool json);
    QCoro::Task<int> disconnect(bool json);
    QCoro::Task<bool> loadCatalog();
    void printState(bool json);
    // Another live process of the app holds the tunnel; says so on standard error.
    bool heldElsewhere();

    AppModel& model_;
    Io io_;
};

}  // namespace orlune
