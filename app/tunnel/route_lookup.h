#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace orlune {

// Which interface the system's route to 1.1.1.1 leaves through. A platform seam: Linux asks
// `ip`, tests answer from a script.
class RouteLookup {
public:
    virtual ~RouteLookup() = default;
    // The interface name, or nothing when the tool fails or names none.
    virtual std::optional<QString> interfaceTowardsInternet() = 0;
    // The interface that carries the whole IPv4 default route (both halves a tunnel installs, or
    // the default route), or nothing when the tool fails or the route is split. Nothing unless
    // a platform answers, so a tunnel is never taken as verified by default.
    virtual std::optional<QString> interfaceCarryingDefaultRoute() { return std::nullopt; }
};

// The platform's implementation.
std::unique_ptr<RouteLookup> makeRouteLookup();

// The device in `ip -4 route get` output: the word after "dev" on the first line naming one.
std::optional<QString> interfaceFromIpRouteOutput(const QByteArray& output);

// True while the route leaves through a wired, Wi-Fi, mobile or bridge interface rather
// than a tunnel.
bool isPhysicalRouteInterface(const std::optional<QString>& interface);

}  // namespace orlune
