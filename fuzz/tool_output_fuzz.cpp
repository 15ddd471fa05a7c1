// Arbitrary bytes as the output of the system tools the service runs (ip, resolvectl, openvpn
// --version, and the macOS scutil, networksetup and route, whose parsers build everywhere). The
// first byte chooses the reader. Nothing crashes; what is read is whole words; a failure is the
// service's own error, never another exception.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/service_failure.h"
#include "dns/dns_backend.h"
#include "dns/dns_backend_macos.h"
#include "dns/dns_backend_resolved_linux.h"
#include "dns/route_interface.h"
#include "engine/engine_interface.h"

namespace {

// Answers every tool with the fuzzer's bytes.
class ScriptedTools final : public orlune::ToolRunner {
public:
    explicit ScriptedTools(std::string output) : output_(std::move(output)) {}
    std::string run(const std::string&, const std::vector<std::string>&, const std::optional<std::string>&) override {
        return output_;
    }

private:
    std::string output_;
};

bool isWord(std::string_view word) {
    if (word.empty()) return false;
    for (char c : word) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') return false;
    }
    return true;
}

void requireWord(const std::optional<std::string>& word) {
    if (word && !isWord(*word)) std::abort();
}

template <class Step>
void serviceStep(Step step) {
    try {
        step();
    } catch (const orlune::ServiceFailure&) {
        // Every expected failure, a vanished service included.
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string output(reinterpret_cast<const char*>(data + 1), size - 1);
    ScriptedTools tools(output);
    switch (data[0] % 6) {
    case 0:
        requireWord(orlune::parseIpRouteGet(output));
        requireWord(orlune::parseWholeDefaultRoute(output));
        break;
    case 1:
        requireWord(orlune::parseRouteGet(output));
        break;
    case 2:
        if (auto servers = orlune::parseResolvectlDns(output, "eth0")) {
            for (const auto& server : *servers) requireWord(server);
        }
        break;
    case 3:
        requireWord(orlune::parseEngineVersion(output));
        break;
    case 4: {
        orlune::MacOSDNSBackend backend(tools);
        serviceStep([&] { (void)backend.primaryService(); });
        // networksetup prints one server a line; whatever it printed, none spans lines.
        serviceStep([&] {
            for (const auto& server : backend.servers("Wi-Fi")) {
                if (server.find('\n') != std::string::npos) std::abort();
            }
        });
        break;
    }
    default: {
        orlune::ResolvedDNSBackend backend(tools, [](const std::string&) { return true; });
        serviceStep([&] { requireWord(backend.primaryService()); });
        serviceStep([&] {
            for (const auto& server : backend.servers("eth0")) requireWord(server);
        });
        break;
    }
    }
    return 0;
}
