#include "cli/command_line.h"

#include <signal.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include "cli/next_emission.h"
#include "cli/unix_signals.h"
#include "control/wire_failure.h"
#include "model/app_model.h"
#include "tunnel/tunnel_holder.h"

namespace orlune {
namespace {

const QStringList kCommands = {"countries", "servers", "connect", "status", "disconnect"};

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

}  // namespace

bool CommandLine::handles(const QStringList& arguments) {
    return !arguments.isEmpty() && (kCommands.contains(arguments.first()) || arguments.first() == "--help" ||
                                    arguments.first() == "-h" || arguments.first() == "help");
}

QString CommandLine::usage() {
    return QStringLiteral(
        "Usage: orlune-vpn [COMMAND] [--json]\n"
        "Without a command the window opens.\n"
        "  countries                 countries that have recommended relays\n"
        "  servers [CODE]            recommended relays, optionally of one country\n"
        "  connect CODE|RELAY-ID     connect, then hold the tunnel until Ctrl-C\n"
        "  status                    the VPN service's status\n"
        "  disconnect                stop the tunnel and wait for normal routing\n");
}

QCoro::Task<int> CommandLine::run(QStringList arguments) {
    const bool json = arguments.removeAll(QStringLiteral("--json")) > 0;
    if (arguments.isEmpty() || !kCommands.contains(arguments.first())) {
        const bool askedForHelp = !arguments.isEmpty() && arguments.first() != "--help" &&
                                  arguments.first() != "-h" && arguments.first() != "help";
        (askedForHelp ? io_.err : io_.out) << usage() << Qt::flush;
        co_return askedForHelp ? 2 : 0;
    }
    const QString command = arguments.takeFirst();
    const int expected = command == "connect" ? 1 : (command == "servers" ? -1 : 0);
    if ((expected >= 0 && arguments.size() != expected) || (expected < 0 && arguments.size() > 1)) {
        io_.err << usage() << Qt::flush;
        co_return 2;
    }
    if (command == "countries") co_return co_await countries(json);
    if (command == "servers") co_return co_await servers(arguments.value(0), json);
    if (command == "connect") co_return co_await connect(arguments.first(), json);
    if (command == "status") co_return co_await status(json);
    co_return co_await disconnect(json);
}

QCoro::Task<bool> CommandLine::loadCatalog() {
    const bool ok = co_await model_.refreshCatalog();
    if (!ok) {
        io_.err << model_.catalogMessage().value_or(QStringLiteral("The relay catalog could not be loaded.")) << '\n'
                << Qt::flush;
    } else if (model_.catalogMessage() && model_.recommendedRelays().empty()) {
        io_.err << *model_.catalogMessage() << '\n' << Qt::flush;
    }
    co_return ok;
}

QCoro::Task<int> CommandLine::countries(bool json) {
    if (!co_await loadCatalog()) co_return 1;
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
    co_return 0;
}

QCoro::Task<int> CommandLine::servers(const QString& code, bool json) {
    if (!code.isEmpty() && !isCountryCode(code)) {
        io_.err << "Not a two-letter country code: " << code << '\n' << Qt::flush;
        co_return 2;
    }
    if (!co_await loadCatalog()) co_return 1;
    QJsonArray array;
    for (const Relay& relay : model_.recommendedRelays()) {
        if (!code.isEmpty() && relay.countryCode.compare(code, Qt::CaseInsensitive) != 0) continue;
        if (json) {
            array.append(relay.toJson());
        } else {
            io_.out << relay.id << "  " << relay.countryCode.toUpper() << "  " << relay.pingText() << "  "
                    << relay.speedText() << "  " << relay.protocolText() << '\n';
        }
    }
    if (json) io_.out << compact(array) << '\n';
    io_.out << Qt::flush;
    co_return 0;
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
        io_.out << "Connected to " << state.relay->name << " (" << state.relay->country << ", "
                << state.relay->hostname << ") through " << interface << "; public address " << state.vpnIP
                << ". Press Ctrl-C to disconnect.\n";
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
    const auto printer = QObject::connect(&model_, &AppModel::connectionStateChanged, &model_,
                                          [this, json] { printState(json); });

    int status = 0;
    if (heldElsewhere()) {
        status = 1;
    } else if (!co_await loadCatalog()) {
        status = 1;
    } else {
        if (isCountryCode(target)) {
            model_.selectCountry(target);
            const auto& selected = model_.selected();
            if (!selected || selected->countryCode.compare(target, Qt::CaseInsensitive) != 0) {
                io_.err << "No recommended live relay in " << target.toUpper()
                        << " meets your settings. Run \"orlune-vpn countries\" to see the choices.\n"
                        << Qt::flush;
                status = 1;
            }
        } else {
            const auto& relays = model_.relays();
            auto found = std::find_if(relays.begin(), relays.end(), [&](const Relay& r) { return r.id == target; });
            if (found != relays.end()) model_.select(*found);
            if (found == relays.end() || model_.selected() != *found) {
                io_.err << "The relay " << target
                        << " is not available: it is not listed, hidden after a failure, or below your limits.\n"
                        << Qt::flush;
                status = 1;
            }
        }
    }

    if (status == 0 && !stopRequested) {
        model_.startMonitoring();
        co_await model_.connectSelected();
        if (model_.connectionState().isConnected() && !stopRequested) {
            // Hold the tunnel; health checks and reconnection run meanwhile.
            while (!stopRequested) co_await nextEmission(&stopSignals, &UnixSignalWatcher::received);
            co_await model_.disconnect();
        }
    }
    while (model_.isStoppingTunnel()) co_await nextEmission(&model_, &AppModel::isStoppingTunnelChanged);
    QObject::disconnect(printer);
    if (status != 0) co_return status;
    co_return model_.connectionState().isFailed() ? 1 : 0;
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
        co_return reply.ok ? 0 : 1;
    } catch (const std::exception& error) {
        io_.err << QString::fromUtf8(error.what()) << '\n' << Qt::flush;
        co_return 1;
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
    co_return state.isFailed() ? 1 : 0;
}

}  // namespace orlune
