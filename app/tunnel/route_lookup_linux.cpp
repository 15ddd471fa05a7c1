#include <QProcess>

#include "tunnel/route_lookup.h"

namespace orlune {
namespace {

// The same limit the service gives its tools: a stuck `ip` must not freeze the UI.
constexpr int kToolTimeoutMs = 4000;

class IpRouteLookup : public RouteLookup {
public:
    std::optional<QString> interfaceTowardsInternet() override {
        QProcess tool;
        tool.setProcessChannelMode(QProcess::SeparateChannels);
        tool.setStandardErrorFile(QProcess::nullDevice());
        tool.start(QStringLiteral("/sbin/ip"), {"-4", "route", "get", "1.1.1.1"}, QIODevice::ReadOnly);
        if (!tool.waitForStarted(kToolTimeoutMs)) return std::nullopt;
        if (!tool.waitForFinished(kToolTimeoutMs)) {
            tool.kill();
            tool.waitForFinished(kToolTimeoutMs);
            return std::nullopt;
        }
        if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) return std::nullopt;
        return interfaceFromIpRouteOutput(tool.readAllStandardOutput());
    }
};

}  // namespace

std::unique_ptr<RouteLookup> makeRouteLookup() { return std::make_unique<IpRouteLookup>(); }

}  // namespace orlune
