#include "cli/command_line.h"

#include <signal.h>
#include <algorithm>

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

#include <vector>

#include "catalog/catalog_cache.h"
#include "cli/next_emission.h"
#include "cli/unix_signals.h"
#include "control/wire_failure.h"
#include "model/app_model.h"
#include "tunnel/tunnel_holder.h"

namespace orlune {
namespace {

struct CommandHelp {
    QString name;
    QString synopsis;
    QString text;
    int minArguments;
    int maxArguments;
};

const std::vector<CommandHelp>& commandHelp() {
    static const std::vector<CommandHelp> commands = {
        {"countries", "countries [--catalog FILE] [--json]", "List the countries that have recommended relays.", 0, 0},
        {"servers", "servers [CODE] [--catalog FILE] [--json]",
         "List the recommended relays, all of them or those of the country CODE (two letters).\n"
         "--catalog FILE reads a relay list saved from VPN Gate instead of downloading one, and keeps it\n"
         "as the last good catalog.",
         0, 1},
        {"connect",
         "connect CODE|RELAY-ID [--catalog FILE] [--fail-closed] [--block-ipv6] [--recently-worked] [--json]",
         "Connect to the best relay of the country CODE, or to the relay RELAY-ID as \"servers\" lists it,\n"
         "then hold the tunnel until Ctrl-C or SIGTERM and disconnect. --catalog FILE keeps a saved relay\n"
         "list as the last good catalog first: it is used when no live catalog can be loaded.\n"
         "--fail-closed blocks all traffic outside the VPN from the start until the disconnect (also\n"
         "between relays and after a loss); --block-ipv6 blocks IPv6 while connected. Either is also on\n"
         "when the same setting is on in the window. --recently-worked also takes the RELAY-ID of a relay\n"
         "that worked for you in the last 7 days and has left the list (\"history\" shows it): that relay\n"
         "alone is tried, with the profile it worked with. The window's \"Offer relays that worked\n"
         "recently\" setting allows it too.",
         1, 1},
        {"history", "history [--json]",
         "List the relays this user tried: attempts that worked and failed, when, the figures last\n"
         "measured through their tunnels and when the catalog last listed them. Newest first.",
         0, 0},
        {"status", "status [--json]", "Show the VPN service's status.", 0, 0},
        {"disconnect", "disconnect [--json]", "Stop the tunnel and wait for normal routing.", 0, 0},
        {"help", "help [COMMAND]", "Show the usage, or the help of COMMAND.", 0, 1},
    };
    return commands;
}

// The options only connect takes.
bool isConnectOption(const QString& argument) {
    return argument == "--fail-closed" || argument == "--block-ipv6" || argument == "--recently-worked";
}

const CommandHelp* findCommand(const QString& name) {
    for (const CommandHelp& command : commandHelp()) {
        if (command.name == name) return &command;
    }
    return nullptr;
}

QString helpOf(const CommandHelp& command) {
    return QStringLiteral("Usage: orlune-vpn %1\n%2\n").arg(command.synopsis, command.text);
}

QString compact(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString compact(const QJsonArray& array) {
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

bool isCountryCode(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z]{2}$"));
    return pattern.match(text).hasMatch();
}

// The completion offers these words to the shell, which expands them: relay ids come from a
// public catalog, so only plain ones are kept.
bool isPlainWord(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9._:-]+$"));
    return pattern.match(text).hasMatch();
}

}  // namespace

bool CommandLine::handles(const QStringList& arguments) {
    return !arguments.isEmpty() && (findCommand(arguments.first()) || arguments.first() == "--help" ||
                                    arguments.first() == "-h" || arguments.first() == "--version");
}

QString CommandLine::usage() {
    return QStringLiteral(
        "Usage: orlune-vpn [COMMAND] [--json]\n"
        "Without a command the window opens.\n"
        "  countries                 countries that have recommended relays\n"
        "  servers [CODE]            recommended relays, optionally of one country\n"
        "  connect CODE|RELAY-ID     connect, then hold the tunnel until Ctrl-C\n"
        "  history                   the relays tried: what worked, what failed, what was measured\n"
        "  status                    the VPN service's status\n"
        "  disconnect                stop the tunnel and wait for normal routing\n"
        "  help [COMMAND]            this usage, or the help of COMMAND\n"
        "Options: --json (one JSON document per line), --catalog FILE (a saved relay list), --help, --version;\n"
        "  connect also takes --fail-closed, --block-ipv6 and --recently-worked\n"
        "Exit status: 0 success, 1 failure, 2 usage error, 3 not connected, 4 VPN service unavailable.\n"
        "See orlune-vpn(1).\n");
}

std::optional<int> CommandLine::answerDirectly(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    const auto usageError = [&err](const QString& problem, const QString& help) {
        err << "orlune-vpn: " << problem << '\n' << help << Qt::flush;
        return int(kUsageError);
    };
    QStringList words;
    bool help = false;
    bool version = false;
    bool catalogFile = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == "--catalog") {
            if (i + 1 >= arguments.size() || arguments.at(i + 1).isEmpty()) {
                return usageError(QStringLiteral("--catalog needs a file"), usage());
            }
            catalogFile = true;
            ++i;
        } else if (argument.startsWith(QLatin1String("--catalog="))) {
            if (argument.size() == 10) return usageError(QStringLiteral("--catalog needs a file"), usage());
            catalogFile = true;
        } else if (argument == "--help" || argument == "-h") {
            help = true;
        } else if (argument == "--version") {
            version = true;
        } else if (argument.startsWith('-') && argument != "--json" && !isConnectOption(argument)) {
            return usageError(QStringLiteral("unknown option %1").arg(argument), usage());
        } else if (argument != "--json" && !isConnectOption(argument)) {
            words.append(argument);
        }
    }
    if (version) {
        out << "orlune-vpn " << QCoreApplication::applicationVersion() << '\n' << Qt::flush;
        return kSuccess;
    }
    if (words.isEmpty()) {
        if (help) {
            out << usage() << Qt::flush;
            return kSuccess;
        }
        return usageError(QStringLiteral("no command"), usage());
    }
    const CommandHelp* command = findCommand(words.first());
    if (!command) return usageError(QStringLiteral("unknown command %1").arg(words.first()), usage());
    if (help) {
        out << (command->name == "help" ? usage() : helpOf(*command)) << Qt::flush;
        return kSuccess;
    }
    if (command->name != "connect" && std::any_of(arguments.begin(), arguments.end(), isConnectOption)) {
        return usageError(QStringLiteral("only connect takes --fail-closed, --block-ipv6 and --recently-worked"),
                          helpOf(*command));
    }
    if (catalogFile && !command->synopsis.contains(QLatin1String("--catalog"))) {
        return usageError(QStringLiteral("--catalog does not apply to %1").arg(command->name), helpOf(*command));
    }
    const qsizetype operands = words.size() - 1;
    if (operands < command->minArguments || operands > command->maxArguments) {
        const QString problem = operands < command->minArguments ? QStringLiteral("%1 needs an argument")
                                                                 : QStringLiteral("too many arguments for %1");
        return usageError(problem.arg(command->name), helpOf(*command));
    }
    if (command->name == "help" && operands == 1) {
        const CommandHelp* topic = findCommand(words.at(1));
        if (!topic) return usageError(QStringLiteral("unknown command %1").arg(words.at(1)), usage());
        out << helpOf(*topic) << Qt::flush;
        return kSuccess;
    }
    if (command->name == "help") {
        out << usage() << Qt::flush;
        return kSuccess;
    }
    return std::nullopt;
}

QCoro::Task<int> CommandLine::run(QStringList arguments) {
    if (const auto answered = answerDirectly(arguments, io_.out, io_.err)) co_return *answered;
    const bool json = arguments.removeAll(QStringLiteral("--json")) > 0;
    const bool failClosed = arguments.removeAll(QStringLiteral("--fail-closed")) > 0;
    const bool blockIPv6 = arguments.removeAll(QStringLiteral("--block-ipv6")) > 0;
    model_.forceLeakProtection(failClosed, blockIPv6);
    model_.forceOfferRecentlyWorked(arguments.removeAll(QStringLiteral("--recently-worked")) > 0);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments.at(i) == "--catalog") {
            catalogFile_ = arguments.at(i + 1);
            arguments.remove(i, 2);
            --i;
        } else if (arguments.at(i).startsWith(QLatin1String("--catalog="))) {
            catalogFile_ = arguments.at(i).mid(10);
            arguments.remove(i);
            --i;
        }
    }
    const QString command = arguments.takeFirst();
    if (command == "countries") co_return co_await countries(json);
    if (command == "servers") co_return co_await servers(arguments.value(0), json);
    if (command == "connect") co_return co_await connect(arguments.first(), json);
    if (command == "status") co_return co_await status(json);
    if (command == "history") co_return history(json);
    co_return co_await disconnect(json);
}

int CommandLine::failureStatus(int whenServiceAnswers) {
    try {
        io_.serviceStatus();
    } catch (const WireFailure& failure) {
        if (failure.kind() == WireFailure::Kind::unavailable) return kServiceUnavailable;
    } catch (...) {
    }
    return whenServiceAnswers;
}

void CommandLine::rememberCompletionWords() {
    const QString directory =
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/orlune-vpn");
    if (!QDir().mkpath(directory)) return;
    QSaveFile file(directory + QStringLiteral("/completion"));
    if (!file.open(QIODevice::WriteOnly)) return;
    for (const Relay& relay : model_.recommendedRelays()) {
        if (!isCountryCode(relay.countryCode) || !isPlainWord(relay.id)) continue;
        file.write((relay.countryCode.toUpper() + u'\t' + relay.id + u'\n').toUtf8());
    }
    file.commit();
}

QCoro::Task<bool> CommandLine::loadCatalog(bool forConnect) {
    if (catalogFile_) {
        // A saved list stands in for the download; connect still tries the live catalog first.
        if (const auto problem = model_.importCatalog(*catalogFile_)) {
            io_.err << *problem << '\n' << Qt::flush;
            co_return false;
        }
        io_.err << model_.catalogMessage().value_or(QString()) << '\n' << Qt::flush;
        co_return true;
    }
    // The kept catalog stands in when the live one cannot be loaded; its age and the live
    // failure are said on standard error.
    // Before a connect the model's other checks run alongside, and the connect takes their answers.
    bool refreshed = false;
    if (forConnect) {
        refreshed = co_await model_.prepareConnect();
    } else {
        refreshed = co_await model_.refreshCatalog();
    }
    const bool ok = refreshed || model_.keptCatalogDate().has_value();
    if (ok && model_.keptCatalogDate()) {
        io_.err << model_.catalogMessage().value_or(QString()) << '\n' << Qt::flush;
    } else if (!ok) {
        io_.err << model_.catalogMessage().value_or(QStringLiteral("The relay catalog could not be loaded.")) << '\n'
                << Qt::flush;
    } else if (model_.catalogMessage() && model_.recommendedRelays().empty()) {
        io_.err << *model_.catalogMessage() << '\n' << Qt::flush;
    }
    if (ok) rememberCompletionWords();
    co_return ok;
}

QCoro::Task<int> CommandLine::countries(bool json) {
    if (!co_await loadCatalog()) co_return kFailure;
    QJsonArray array;
    for (const CountryChoice& choice : model_.countryChoices()) {
        if (json) {
            array.append(QJsonObject{{"code", choice.code}, {"name", choice.name}, {"relayCount", choice.relayCount}});
        } else {
            io_.out << choice.code << "  " << choice.name << "  (" << choice.relayCount
                    << (choice.relayCount == 1 ? " relay)" : " relays)") << '\n';
        }
    }
    if (json) io_.out << compact(array) << '\n';
    io_.out << Qt::flush;
    co_return kSuccess;
}

QCoro::Task<int> CommandLine::servers(const QString& code, bool json) {
    if (!code.isEmpty() && !isCountryCode(code)) {
        io_.err << "Not a two-letter country code: " << code << '\n' << Qt::flush;
        co_return kUsageError;
    }
    if (!co_await loadCatalog()) co_return kFailure;
    QJsonArray array;
    for (const Relay& relay : model_.recommendedRelays()) {
        if (!code.isEmpty() && relay.countryCode.compare(code, Qt::CaseInsensitive) != 0) continue;
        const auto record = model_.relayHistory().constFind(relay.id);
        const bool recorded = record != model_.relayHistory().constEnd();
        if (json) {
            QJsonObject object = relay.toJson();
            if (recorded) object.insert("history", historyFields(*record));
            array.append(object);
        } else {
            io_.out << relay.id << "  " << relay.countryCode.toUpper() << "  " << relay.pingText() << "  "
                    << relay.speedText() << "  " << relay.protocolText();
            if (recorded) io_.out << "  " << historyLine(*record, QDateTime::currentDateTimeUtc()).value_or(QString());
            io_.out << '\n';
        }
    }
    if (json) io_.out << compact(array) << '\n';
    io_.out << Qt::flush;
    co_return kSuccess;
}

int CommandLine::history(bool json) {
    if (const auto& problem = model_.historyMessage()) io_.err << *problem << '\n' << Qt::flush;
    std::vector<RelayRecord> records(model_.relayHistory().begin(), model_.relayHistory().end());
    std::sort(records.begin(), records.end(), [](const RelayRecord& a, const RelayRecord& b) {
        return a.lastAttempt() != b.lastAttempt() ? a.lastAttempt() > b.lastAttempt() : a.relay.id < b.relay.id;
    });
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QJsonArray array;
    for (const RelayRecord& record : records) {
        if (json) {
            QJsonObject object = historyFields(record);
            object.insert("relay", record.relay.toJson());
            array.append(object);
            continue;
        }
        io_.out << record.relay.id << "  " << record.relay.countryCode.toUpper() << "  worked " << record.workedCount()
                << ", failed " << record.failedCount();
        if (const auto line = historyLine(record, now)) io_.out << "  " << *line;
        if (record.rttMilliseconds && record.throughputBitsPerSecond) {
            io_.out << "  (" << *record.rttMilliseconds << " ms)";
        }
        io_.out << "  " << (record.lastSeen ? "listed " + catalogAgeText(*record.lastSeen, now) : "never seen listed")
                << '\n';
    }
    if (json) io_.out << compact(array) << '\n';
    if (!json && records.empty()) io_.out << "No relay has been tried yet.\n";
    io_.out << Qt::flush;
    return kSuccess;
}

void CommandLine::printState(bool json) {
    const ConnectionState& state = model_.connectionState();
    if (json) {
        QJsonObject line{{"state", state.name()}};
        if (state.isConnecting() || state.isFailed()) line.insert("text", state.text);
        if (state.isConnected()) {
            line.insert("relay", state.relay->toJson());
            line.insert("address", state.vpnIP);
            line.insert("since", state.since.toString(Qt::ISODate));
            try {
                const NativeReply reply = io_.serviceStatus();
                if (reply.interface) line.insert("interface", QString::fromStdString(*reply.interface));
            } catch (...) {
            }
        }
        io_.out << compact(line) << '\n' << Qt::flush;
        return;
    }
    switch (state.kind) {
    case ConnectionState::Kind::connecting:
        io_.out << state.text << '\n';
        break;
    case ConnectionState::Kind::connected: {
        QString interface = QStringLiteral("an unconfirmed interface");
        try {
            const NativeReply reply = io_.serviceStatus();
            if (reply.interface) interface = QString::fromStdString(*reply.interface);
        } catch (...) {
        }
        io_.out << "Connected to " << state.relay->name << " (" << state.relay->country << ", " << state.relay->hostname
                << ") through " << interface << "; public address " << state.vpnIP << ". Press Ctrl-C to disconnect.\n";
        break;
    }
    case ConnectionState::Kind::failed:
        io_.err << state.text << '\n' << Qt::flush;
        break;
    case ConnectionState::Kind::disconnected:
        io_.out << "Disconnected.\n";
        break;
    }
    io_.out << Qt::flush;
}

void CommandLine::printMeasurement(bool json) {
    const auto& measurement = model_.measurement();
    if (!measurement || measurement->running) return;
    const auto& state = model_.connectionState();
    const std::optional<qint64> advertised = state.relay ? state.relay->speedBitsPerSecond : std::nullopt;
    if (json) {
        QJsonObject figures{{"relay", measurement->relayId}};
        if (measurement->rttMilliseconds) figures.insert("rttMilliseconds", double(*measurement->rttMilliseconds));
        if (measurement->throughputBitsPerSecond) {
            figures.insert("throughputBitsPerSecond", double(*measurement->throughputBitsPerSecond));
        }
        if (advertised) figures.insert("advertisedBitsPerSecond", double(*advertised));
        io_.out << compact(QJsonObject{{"measurement", figures}}) << '\n' << Qt::flush;
        return;
    }
    const auto figures =
        measuredFigures(measurement->rttMilliseconds, measurement->throughputBitsPerSecond, advertised);
    io_.out << (figures ? QStringLiteral("Measured: ") + *figures
                        : QStringLiteral("The tunnel could not be measured; it works as verified."))
            << '\n'
            << Qt::flush;
}

bool CommandLine::heldElsewhere() {
    try {
        if (const auto held = otherLiveHolder(io_.serviceStatus())) {
            io_.err << "The VPN tunnel is held by " << describeHolder(*held) << "; disconnect it there first.\n"
                    << Qt::flush;
            return true;
        }
    } catch (...) {
        // No answer from the service: the attempt itself reports that.
    }
    return false;
}

QCoro::Task<int> CommandLine::connect(const QString& target, bool json) {
    UnixSignalWatcher stopSignals({SIGINT, SIGTERM});
    bool stopRequested = false;
    // A stop during the attempt ends it: the disconnect replaces the attempt, which then gives up.
    QObject::connect(&stopSignals, &UnixSignalWatcher::received, &model_, [&] {
        stopRequested = true;
        model_.requestDisconnect();
    });
    const auto printer =
        QObject::connect(&model_, &AppModel::connectionStateChanged, &model_, [this, json] { printState(json); });
    const auto measured =
        QObject::connect(&model_, &AppModel::measurementChanged, &model_, [this, json] { printMeasurement(json); });

    int status = kSuccess;
    std::optional<QString> recentlyWorked;  // a relay that left the list, connected with its kept profile
    if (heldElsewhere() || !co_await loadCatalog(true)) {
        status = kNotConnected;
    } else {
        if (isCountryCode(target)) {
            model_.selectCountry(target);
            const auto& selected = model_.selected();
            if (!selected || selected->countryCode.compare(target, Qt::CaseInsensitive) != 0) {
                io_.err << "No recommended live relay in " << target.toUpper()
                        << " meets your settings. Run \"orlune-vpn countries\" to see the choices.\n"
                        << Qt::flush;
                status = kNotConnected;
            }
        } else {
            const auto& relays = model_.relays();
            auto found = std::find_if(relays.begin(), relays.end(), [&](const Relay& r) { return r.id == target; });
            if (found != relays.end()) model_.select(*found);
            const auto kept = model_.recentlyWorkedRelays();
            if (found == relays.end() &&
                std::any_of(kept.begin(), kept.end(), [&](const RelayRecord& r) { return r.relay.id == target; })) {
                recentlyWorked = target;
            } else if (found == relays.end() || model_.selected() != *found) {
                io_.err << "The relay " << target
                        << " is not available: it is not listed, hidden after a failure, or below your limits.\n";
                if (found == relays.end() && !model_.relayHistory().value(target).profile.isEmpty()) {
                    io_.err << "It worked for you before: --recently-worked connects with the profile it worked "
                               "with.\n";
                }
                io_.err << Qt::flush;
                status = kNotConnected;
            }
        }
    }

    if (status == kSuccess && !stopRequested) {
        model_.startMonitoring();
        if (recentlyWorked) {
            co_await model_.connectRecentlyWorked(*recentlyWorked);
        } else {
            co_await model_.connectSelected();
        }
        if (model_.connectionState().isConnected() && !stopRequested) {
            // Hold the tunnel; health checks and reconnection run meanwhile.
            while (!stopRequested) co_await nextEmission(&stopSignals, &UnixSignalWatcher::received);
            co_await model_.disconnect();
        }
    }
    while (model_.isStoppingTunnel()) co_await nextEmission(&model_, &AppModel::isStoppingTunnelChanged);
    QObject::disconnect(printer);
    QObject::disconnect(measured);
    if (status != kSuccess) co_return status;
    co_return model_.connectionState().isFailed() ? failureStatus(kNotConnected) : kSuccess;
}

QCoro::Task<int> CommandLine::status(bool json) {
    try {
        const NativeReply reply = io_.serviceStatus();
        if (json) {
            io_.out << QString::fromStdString(encodeMessage(reply)) << '\n';
        } else {
            io_.out << "state: " << QString::fromStdString(reply.state) << '\n';
            if (!reply.message.empty()) io_.out << "message: " << QString::fromStdString(reply.message) << '\n';
            if (reply.interface) io_.out << "interface: " << QString::fromStdString(*reply.interface) << '\n';
            if (reply.ownerPID) io_.out << "owner process: " << *reply.ownerPID << '\n';
            io_.out << "engine: OpenVPN " << QString::fromStdString(reply.engineVersion) << '\n';
        }
        io_.out << Qt::flush;
        co_return reply.ok ? kSuccess : kFailure;
    } catch (const WireFailure& failure) {
        io_.err << QString::fromUtf8(failure.what()) << '\n' << Qt::flush;
        co_return failure.kind() == WireFailure::Kind::unavailable ? kServiceUnavailable : kFailure;
    } catch (const std::exception& error) {
        io_.err << QString::fromUtf8(error.what()) << '\n' << Qt::flush;
        co_return kFailure;
    }
}

QCoro::Task<int> CommandLine::disconnect(bool json) {
    co_await model_.disconnect();
    const ConnectionState& state = model_.connectionState();
    if (json) {
        QJsonObject line{{"state", state.name()}};
        if (state.isFailed()) line.insert("text", state.text);
        io_.out << compact(line) << '\n' << Qt::flush;
    } else if (state.isFailed()) {
        io_.err << state.text << '\n' << Qt::flush;
    } else {
        io_.out << "Disconnected.\n" << Qt::flush;
    }
    co_return state.isFailed() ? failureStatus(kFailure) : kSuccess;
}

}  // namespace orlune
