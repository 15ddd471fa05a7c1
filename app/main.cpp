// The Orlune VPN program: the window (without arguments) or the headless command line.
#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include <dlfcn.h>
#include <malloc.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "app_setup.h"
#include "cli/command_line.h"
#include "control/native_wire.h"
#include "network/http.h"

namespace {

// The window's libraries (Qt Quick, QML, Widgets) load only for the window, from its module in
// the program's own tree: /usr/bin/orlune-vpn loads /usr/lib/orlune-vpn/orlune-vpn-window.so.
int runWindow(int argc, char** argv) {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::filesystem::path module = self.parent_path().parent_path() / "lib/orlune-vpn/orlune-vpn-window.so";
    void* handle = error ? nullptr : ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    using RunWindow = int (*)(int, char**);
    auto* run = handle ? reinterpret_cast<RunWindow>(::dlsym(handle, "orluneRunWindow")) : nullptr;
    if (!run) {
        const char* why = error ? "the program's own path is unknown" : ::dlerror();
        std::fprintf(stderr, "Orlune VPN: the window could not be loaded from %s: %s\n", module.c_str(),
                     why ? why : "it has no window");
        return 1;
    }
    return run(argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
    // Qt's helper threads (HTTP, D-Bus, host lookups) allocate little, yet glibc gives each of
    // them an arena of its own: about 1 MB resident for nothing. One arena besides the main one.
    ::mallopt(M_ARENA_MAX, 2);
    if (argc <= 1) return runWindow(argc, argv);

    QCoreApplication app(argc, argv);
    orlune::app::nameApplication();
    QTextStream out(stdout);
    QTextStream err(stderr);

    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (const auto answered = orlune::CommandLine::answerDirectly(arguments, out, err)) return *answered;
    if (!orlune::app::useEndpointsFromEnvironment(err)) return orlune::CommandLine::kUsageError;
    // A closed output pipe must not end the program in the middle of a disconnect.
    std::signal(SIGPIPE, SIG_IGN);
    auto preferences = orlune::Preferences::forUser();
    auto catalogAccess = orlune::app::makeCatalogAccess(*preferences, err);
    auto model = orlune::app::makeModel(*preferences, catalogAccess);
    orlune::CommandLine commandLine(*model,
                                    {out, err, [] {
                                         return orlune::NativeWire::request(orlune::NativeRequest{"status", {}, {}});
                                     }});
    int status = 0;
    auto run = [&]() -> QCoro::Task<> {
        try {
            status = co_await commandLine.run(arguments);
        } catch (const std::exception& error) {
            err << "Orlune VPN: " << QString::fromUtf8(error.what()) << '\n' << Qt::flush;
            status = 1;
        }
        QCoreApplication::quit();
    };
    QTimer::singleShot(0, &app, [&] { run(); });
    QCoreApplication::exec();
    orlune::releaseSharedNetworkAccess();
    return status;
}
