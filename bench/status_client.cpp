// Round trips of "status" to the installed service, each a new connection as the app makes them,
// so every one pays the service's full client authorization. The service answers only the program
// its manifest names: the bench installs this program as the lab's app in place of the real one.
// With a profile, it first asks the service to start that tunnel and waits until the service
// reports it connected (at most 30 s), so the round trips include the route check the service
// makes for every "status" of a running tunnel; it stops the tunnel at the end.
// Usage: orlune-status-bench REQUESTS [PROFILE-FILE RELAY-ADDRESS]   (REQUESTS 1 to 100000)
// Prints one line: status_rtt state=… requests=N first_us=… p50_us=… p90_us=… p99_us=… max_us=… mean_us=…
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "control/native_messages.h"
#include "control/native_wire.h"

namespace {

constexpr long kMostRequests = 100'000;
constexpr auto kConnectLimit = std::chrono::seconds(30);
constexpr auto kConnectPoll = std::chrono::milliseconds(50);

orlune::NativeRequest operation(std::string_view name) {
    orlune::NativeRequest request;
    request.operation = std::string(name);
    return request;
}

// Starts the tunnel and waits for "connected"; false (with the reason on standard error) otherwise.
bool connectTunnel(const char* profilePath, const char* address) {
    std::ifstream file(profilePath, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "orlune-status-bench: cannot read %s\n", profilePath);
        return false;
    }
    orlune::NativeRequest connect = operation(orlune::NativeOperation::connect);
    connect.profile = std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    connect.expectedHost = address;
    orlune::NativeReply reply = orlune::NativeWire::request(connect);
    const auto deadline = std::chrono::steady_clock::now() + kConnectLimit;
    while (reply.ok && reply.state != orlune::NativeState::connected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kConnectPoll);
        reply = orlune::NativeWire::request(operation(orlune::NativeOperation::status));
    }
    if (reply.state == orlune::NativeState::connected) return true;
    std::fprintf(stderr, "orlune-status-bench: the tunnel did not come up: %s %s\n", reply.state.c_str(),
                 reply.message.c_str());
    return false;
}

// Stops the tunnel on every way out once it was asked for.
struct TunnelStop {
    bool armed = false;
    ~TunnelStop() {
        if (!armed) return;
        try {
            (void)orlune::NativeWire::request(operation(orlune::NativeOperation::disconnect));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "orlune-status-bench: the tunnel was not stopped: %s\n", error.what());
        }
    }
};

double percentile(const std::vector<double>& sorted, double fraction) {
    // Nearest rank: the smallest value with at least `fraction` of the samples at or below it.
    const auto rank = static_cast<std::size_t>(fraction * static_cast<double>(sorted.size()) + 0.999999);
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: orlune-status-bench REQUESTS [PROFILE-FILE RELAY-ADDRESS]\n");
        return 2;
    }
    char* end = nullptr;
    const long requests = std::strtol(argv[1], &end, 10);
    if (*end != '\0' || requests < 1 || requests > kMostRequests) {
        std::fprintf(stderr, "orlune-status-bench: the request count must be 1 to %ld\n", kMostRequests);
        return 2;
    }
    TunnelStop stop{argc == 4};
    try {
        if (stop.armed && !connectTunnel(argv[2], argv[3])) return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "orlune-status-bench: %s\n", error.what());
        return 1;
    }
    const orlune::NativeRequest status = operation(orlune::NativeOperation::status);
    std::string state;
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(requests));
    double total = 0;
    for (long i = 0; i < requests; ++i) {
        const auto start = std::chrono::steady_clock::now();
        orlune::NativeReply reply;
        try {
            reply = orlune::NativeWire::request(status);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "orlune-status-bench: request %ld failed: %s\n", i + 1, error.what());
            return 1;
        }
        const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
        // A refusal is answered quickly too; timing it would flatter the service.
        if (!reply.ok) {
            std::fprintf(stderr, "orlune-status-bench: the service refused: %s\n", reply.message.c_str());
            return 1;
        }
        state = reply.state;
        micros.push_back(took.count());
        total += took.count();
    }
    const double first = micros.front();
    std::sort(micros.begin(), micros.end());
    std::printf(
        "status_rtt state=%s requests=%ld first_us=%.0f p50_us=%.0f p90_us=%.0f p99_us=%.0f max_us=%.0f mean_us=%.0f\n",
        state.c_str(), requests, first, percentile(micros, 0.50), percentile(micros, 0.90), percentile(micros, 0.99),
        micros.back(), total / static_cast<double>(requests));
    return 0;
}
