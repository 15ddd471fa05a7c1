#pragma once

#include <QStringView>

#include <span>

namespace orlune {

// Interface names by role, for the platform this build is for (interface_names_<platform>.cpp).
// Tunnels, loopback and veth pairs never count as physical.
extern const std::span<const QStringView> kPhysicalInterfacePrefixes;
extern const std::span<const QStringView> kPhysicalRoutePrefixes;  // the route check also takes bridges
extern const QStringView kTunnelInterfacePrefix;

inline bool hasPrefix(QStringView name, std::span<const QStringView> prefixes) {
    for (QStringView prefix : prefixes) {
        if (name.startsWith(prefix)) return true;
    }
    return false;
}

}  // namespace orlune
