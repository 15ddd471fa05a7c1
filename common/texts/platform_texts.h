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
    // Launch at login was registered but waits for the user's approval.
    std::string_view launchAtLoginNeedsApproval;
    // The button that opens the desktop's list of what starts at login.
    std::string_view reviewLoginItems;
    // The settings note on the one-time installation.
    std::string_view installationNote;
    // The help card on the one-time installation.
    std::string_view installationHelp;
    // What a verified tunnel's route goes through, inside a sentence of the help.
    std::string_view tunnelRoute;
    // What the diagnostics text holds.
    std::string_view diagnosticsNote;
    // Where the preferences are kept, inside a sentence of the privacy policy.
    std::string_view preferencesLocation;
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
    .launchAtLoginNeedsApproval = "macOS requires approval for this app in Login Items.",
    .reviewLoginItems = "Review Login Items in System Settings",
    .installationNote =
        "Install Orlune VPN with its .pkg installer once. macOS asks for administrator approval during "
        "installation; ordinary Connect, Disconnect and server switching do not ask again.",
    .installationHelp =
        "Install Orlune VPN once with its installer package on a Mac with Apple silicon running macOS 14 or "
        "newer, and approve the administrator prompt that macOS shows during installation. The installer "
        "sets up the VPN service that starts OpenVPN and switches DNS. After that, Connect, Disconnect and "
        "server switching never ask again, and the app never sees or handles the administrator password.",
    .tunnelRoute = "a utun route",
    .diagnosticsNote =
        "Diagnostics include app and macOS versions, VPN service availability, and catalog count. They "
        "exclude public IP addresses, passwords, profile contents, browsing history, and traffic data.",
    .preferencesLocation = "on your Mac",
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
    .launchAtLoginNeedsApproval = "The desktop requires approval before Orlune VPN starts at login.",
    .reviewLoginItems = "Review Autostart Applications",
    .installationNote =
        "Install Orlune VPN with its .deb package once. Installing needs administrator rights one time; "
        "ordinary Connect, Disconnect and server switching do not ask again.",
    .installationHelp =
        "Install the Orlune VPN package (.deb) once, with administrator rights, on Debian 12 or a compatible "
        "64-bit distribution (for example with sudo apt install). The package sets up the VPN service that "
        "starts OpenVPN and switches DNS. After that, Connect, Disconnect and server switching never ask "
        "again, and the app never sees or handles the administrator password.",
    .tunnelRoute = "a route through the tunnel interface",
    .diagnosticsNote =
        "Diagnostics include app and operating system versions, VPN service availability, and catalog "
        "count. They exclude public IP addresses, passwords, profile contents, browsing history, and "
        "traffic data.",
    .preferencesLocation = "on this computer, in your own account",
};

// The texts of the platform this build is for (platform_texts_<platform>.cpp).
extern const PlatformTexts& kPlatformTexts;

}  // namespace orlune
