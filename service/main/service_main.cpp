// The orlune-vpn-service program: the root half of Orlune VPN.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

#include "auth/client_authorizer_linux.h"
#include "auth/client_manifest.h"
#include "control/native_paths.h"
#include "core/service_failure.h"
#include "core/tool_runner.h"
#include "dns/dns_override.h"
#include "dns/route_interface.h"
#include "dns/system_dns_backend.h"
#include "engine/child_capabilities_linux.h"
#include "engine/engine_interface.h"
#include "engine/process_control_linux.h"
#include "engine/transport_observation.h"
#include "firewall/firewall_block.h"
#include "main/vpn_service.h"
#include "policy/profile_policy.h"

namespace orlune {
namespace {

bool hasArgument(int argc, char** argv, const char* wanted) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], wanted) == 0) return true;
    }
    return false;
}

// Set by SIGTERM and SIGINT; the server loop ends when it sees it.
std::atomic<bool> shouldExit{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler may only store a lock-free flag");

void requestExit(int) {
    shouldExit.store(true);
}

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = requestExit;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the wait for a connection returns at once and the loop sees the flag.
    action.sa_flags = 0;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    // A client that vanishes mid-reply must give a write error, not end the service.
    ::signal(SIGPIPE, SIG_IGN);
}

// The system's DNS switch and route lookup, as the service object uses them.
class SystemDNSControl final : public DNSControl {
public:
    SystemDNSControl(ToolRunner& runner, DNSBackend& backend, std::string recordPath)
        : runner_(runner), override_(backend, std::move(recordPath)) {}
    void applyDNS() override { override_.applyDNS(); }
    void restoreDNS() override { override_.restoreDNS(); }
    void tunnelUp(const std::string& interface) override { override_.applyOnTunnelLink(interface); }
    std::optional<std::string> routeInterface() override { return orlune::routeInterface(runner_); }

private:
    ToolRunner& runner_;
    DNSOverride override_;
};

void serve() {
    ::umask(077);
    installSignalHandlers();
    confineChildCapabilities();

    // The service never runs without knowing which app it serves.
    const ClientManifest manifest = readClientManifest(std::string(NativePaths::manifest));
    LinuxClientAuthorizer authorizer(manifest);
    SystemToolRunner runner;
    const std::string state(NativePaths::state);
    std::unique_ptr<DNSBackend> backend = makeSystemDNSBackend(runner);
    SystemDNSControl dns(runner, *backend, state + "/" + std::string(kDNSRecordName));
    FirewallBlock firewall(runner, state + "/" + std::string(kFirewallRecordName));
    LinuxProcessControl processes;
    SteadyClock clock;
    const std::string engine(NativePaths::engine);

    VPNService service(ServiceParts{
        .authorizer = authorizer,
        .dns = dns,
        .processes = processes,
        .clock = clock,
        .configuration = ProfilePolicy::configuration,
        .engineVersion = probeEngineVersion(runner, engine),
        .engine = EnginePaths{engine, state},
        .socketDirectory = std::string(NativePaths::socketDirectory),
        .socketPath = std::string(NativePaths::socket),
        .firewall = &firewall,
    });
    service.serve(shouldExit);
}

// The one line the service writes when it cannot run, and its exit status.
int refuseToRun(const std::exception& error) {
    std::fprintf(stderr, "Orlune VPN service: %s\n", error.what());
    return 1;
}

int serviceMain(int argc, char** argv) {
    // The self-test needs no privileges and touches no file, so it comes before everything else.
    if (hasArgument(argc, argv, "--self-test")) {
        ProfilePolicy::selfTest();
        TransportObservation::selfTest();
        return 0;
    }

    if (::geteuid() != 0) {
        throw ServiceFailure::rejected("The VPN service must be launched by the installed system service.");
    }

    serve();
    return 0;
}

}  // namespace
}  // namespace orlune

int main(int argc, char** argv) {
    try {
        return orlune::serviceMain(argc, argv);
    } catch (const std::exception& error) {
        return orlune::refuseToRun(error);
    }
}
