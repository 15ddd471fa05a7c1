// Stands in for logind on the booted machine's system bus, for the sleep scenario: takes
// logind's name (logind is stopped for it), sends PrepareForSleep(true|false) from logind's
// object, and stays on the bus a moment so every listener has the signal before the name goes.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QTimer>

#include <cstdio>
#include <string_view>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::string_view arg = argc == 2 ? argv[1] : "";
    if (arg != "true" && arg != "false") {
        std::fprintf(stderr, "usage: logind-signal true|false\n");
        return 2;
    }
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "logind-signal: no system bus: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    if (!bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
        std::fprintf(stderr, "logind-signal: org.freedesktop.login1 is taken or refused: %s\n",
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    QDBusMessage signal =
        QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                   QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"));
    signal << (arg == "true");
    if (!bus.send(signal)) return 1;
    QTimer::singleShot(1000, &app, &QCoreApplication::quit);
    return QCoreApplication::exec();
}
