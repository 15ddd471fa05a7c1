// The orlune-vpn-service program: the root half of Orlune VPN.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>

#include "engine/transport_observation.h"
#include "main/service_failure.h"
#include "policy/profile_policy.h"

namespace orlune {
namespace {

bool hasArgument(int argc, char** argv, const char* wanted) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], wanted) == 0) return true;
    }
    return false;
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

    // ---- Serving ------------------------------------------------------------------------------
    // Here the service sets its file-creation mask, installs its signal handlers, builds the
    // service object and serves the control socket until it is asked to stop.
    throw ServiceFailure::rejected("This build cannot serve requests yet: its control socket server is not included.");
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
