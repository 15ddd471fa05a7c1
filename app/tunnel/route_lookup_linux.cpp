#include <QProcess>

#include "control/default_route.h"
#include "tunnel/route_lookup.h"

namespace orlune {
namespace {

// The same limit the service gives its tools: a stuck `ip` must not freeze the UI.
constexpr int kToolTimeoutMs = 4000;

// The standard output of `ip ARGUMENTS`, or nothing when it fails.
std::optional<QByteArray> runIp(const QStringList& arguments) {
    QProcess tool;
    tool.setProcessChannelMode(QProcess::SeparateChannels);
    tool.setStandardErrorFile(QProcess::nullDevice());
    tool.start(QStringLiteral("/sbin/ip"), arguments, QIODevice::ReadOnly);
    if (!tool.waitForStarted(kToolTimeoutMs)) return std::nullopt;
    if (!tool.waitForFinished(kToolTimeoutMs)) {
        tool.kill();
        tool.waitForFinished(kToolTimeoutMs);
        return std::nullopt;
    }
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) return std::nullopt;
    return tool.readAllStandardOutput();
}

class IpRouteLookup : public RouteLookup {
public:
    std::optional<QString> interfaceCarryingDefaultRoute() override {
        const auto output = runIp({"-4", "route", "show", "table", "main"});
        if (!output) return std::nullopt;
        const auto device = parseWholeDefaultRoute(std::string_view(output->constData(), output->size()));
        if (!device) return std::nullopt;
        return QString::fromStdString(*device);
    }
    std::optional<QString> interfaceTowardsInternet() override {
        const auto output = runIp({"-4", "route", "get", "1.1.1.1"});
        return output ? interfaceFromIpRouteOutput(*output) : std::nullopt;
    }
};

}  // namespace

std::unique_ptr<RouteLookup> makeRouteLookup() {
    return std::make_unique<IpRouteLookup>();
}

}  // namespace orlune
