#pragma once

#include <string>
#include <string_view>

namespace orlune::NativePaths {

// Fixed locations shared by the app and the service. They are compile-time constants on
// purpose: the service reads no configuration, and tests inject their own directories into
// the pieces they exercise instead of changing these.
#if defined(__APPLE__)
inline constexpr std::string_view socket = "/var/run/orlune-vpn/control.sock";
inline constexpr std::string_view socketDirectory = "/var/run/orlune-vpn";
inline constexpr std::string_view support = "/Library/Application Support/Orlune VPN";
inline constexpr std::string_view state = "/Library/Application Support/Orlune VPN/State";
inline constexpr std::string_view engine = "/Library/Application Support/Orlune VPN/Engine/openvpn";
inline constexpr std::string_view manifest = "/Library/Application Support/Orlune VPN/client.json";
#else
inline constexpr std::string_view socket = "/run/orlune-vpn/control.sock";
inline constexpr std::string_view socketDirectory = "/run/orlune-vpn";
inline constexpr std::string_view support = "/var/lib/orlune-vpn";
inline constexpr std::string_view state = "/var/lib/orlune-vpn/state";
inline constexpr std::string_view engine = "/usr/sbin/openvpn";
inline constexpr std::string_view manifest = "/var/lib/orlune-vpn/client.json";
#endif

// The engine's management socket: the state directory followed by "/management.sock".
inline const std::string& management() {
    static const std::string path = std::string(state) + "/management.sock";
    return path;
}

}  // namespace orlune::NativePaths
