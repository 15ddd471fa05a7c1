#pragma once

#include <QStringView>

#include <array>

namespace orlune {

// Interface names by role. Linux names wired links en*/eth*, Wi-Fi wl*, mobile ww*; the
// route check also takes bridges. Tunnels, loopback and veth pairs never count as physical.
#if defined(__APPLE__)
inline constexpr std::array<QStringView, 1> kPhysicalInterfacePrefixes = {u"en"};
inline constexpr std::array<QStringView, 2> kPhysicalRoutePrefixes = {u"en", u"bridge"};
inline constexpr QStringView kTunnelInterfacePrefix = u"utun";
#else
inline constexpr std::array<QStringView, 4> kPhysicalInterfacePrefixes = {u"en", u"eth", u"wl", u"ww"};
inline constexpr std::array<QStringView, 5> kPhysicalRoutePrefixes = {u"en", u"eth", u"wl", u"ww", u"br"};
inline constexpr QStringView kTunnelInterfacePrefix = u"tun";
#endif

template <std::size_t N>
bool hasPrefix(QStringView name, const std::array<QStringView, N>& prefixes) {
    for (QStringView prefix : prefixes) {
        if (name.startsWith(prefix)) return true;
    }
    return false;
}

}  // namespace orlune
