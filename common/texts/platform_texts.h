#pragma once

#include <string_view>

namespace orlune {

// Every user-facing sentence that names the operating system, its installer or its settings
// lives here, so that each platform carries its own wording and the logic stays shared.
struct PlatformTexts {
    // The control socket cannot be reached.
    std::string_view serviceUnavailable;
    // The app finds no control socket at all.
    std::string_view setupRequired;
    // Another account's app owns the running tunnel.
    std::string_view anotherUserOwnsConnection;
    // After a stop the default route did not come back to a physical interface.
    std::string_view physicalRouteNotRestored;
    // Lead-in of a failed launch-at-login change; the error's description follows.
    std::string_view launchAtLoginFailedPrefix;
    // The desktop refused notifications.
    std::string_view notificationsNotAllowed;
    // Lead-in of the operating-system line in the diagnostics text.
    std::string_view diagnosticsOSPrefix;
    // Lead-in of the tunnel-backend value; the engine version follows.
    std::string_view engineLabelPrefix;
};

inline constexpr PlatformTexts kMacOSTexts{
    .serviceUnavailable =
        "One-time setup is missing or the VPN service is unavailable. Run the Orlune VPN "
        "installer (.pkg) and approve the macOS administrator prompt.",
    .setupRequired =
        "One-time setup is required. Run the Orlune VPN installer (.pkg) and approve the macOS "
        "administrator prompt. After setup, Connect and Disconnect do not need an administrator "
        "password.",
    .anotherUserOwnsConnection = "Another macOS user owns the active VPN connection.",
    .physicalRouteNotRestored =
        "The VPN stopped, but macOS did not restore the default route to Wi-Fi/Ethernet within "
        "15 seconds. No other relay was attempted.",
    .launchAtLoginFailedPrefix = "macOS did not enable Login at Launch: ",
    .notificationsNotAllowed =
        "Notifications were not allowed in macOS. Enable them in System Settings → Notifications.",
    .diagnosticsOSPrefix = "macOS: ",
    .engineLabelPrefix = "Built-in OpenVPN ",
};

inline constexpr PlatformTexts kLinuxTexts{
    .serviceUnavailable =
        "One-time setup is missing or the VPN service is unavailable. Install the Orlune VPN "
        "package (.deb) with administrator rights and make sure the orlune-vpn service is running.",
    .setupRequired =
        "One-time setup is required. Install the Orlune VPN package (.deb) with administrator "
        "rights. After setup, Connect and Disconnect do not need an administrator password.",
    .anotherUserOwnsConnection = "Another user owns the active VPN connection.",
    .physicalRouteNotRestored =
        "The VPN stopped, but the system did not restore the default route to Wi-Fi/Ethernet "
        "within 15 seconds. No other relay was attempted.",
    .launchAtLoginFailedPrefix = "The system did not enable Launch at Login: ",
    .notificationsNotAllowed =
        "Notifications were not allowed by the desktop. Enable them in your desktop's "
        "notification settings.",
    .diagnosticsOSPrefix = "OS: ",
    .engineLabelPrefix = "OpenVPN ",
};

#if defined(__APPLE__)
inline constexpr const PlatformTexts& kPlatformTexts = kMacOSTexts;
#else
inline constexpr const PlatformTexts& kPlatformTexts = kLinuxTexts;
#endif

}  // namespace orlune
