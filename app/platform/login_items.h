#pragma once

#include <QString>

#include <memory>
#include <optional>

namespace orlune {

// Whether the app starts when the user logs in, as the desktop sees it.
enum class LoginItemStatus {
    notRegistered,     // the app does not start at login
    enabled,           // it does
    requiresApproval,  // registered, waiting for the user to approve it in the desktop's settings
    notFound,          // the app is not installed where the desktop could start it
};

// The desktop's list of applications started at login, for the app itself.
class LoginItems {
public:
    virtual ~LoginItems() = default;
    virtual LoginItemStatus status() const = 0;
    // Adds or removes the app. Answers the failure's description, or nothing on success.
    virtual std::optional<QString> setRegistered(bool registered) = 0;
    // Shows the user where the desktop lists what starts at login.
    virtual void openSettings() = 0;
};

// XDG autostart: an entry "orlune-vpn.desktop" in $XDG_CONFIG_HOME/autostart (~/.config when
// unset), made from the app's installed desktop entry, which is looked for in the XDG data
// directories. Without an installed entry the status is "not found"; the desktop never asks for
// approval.
class XdgAutostart final : public LoginItems {
public:
    static constexpr const char* kEntryName = "orlune-vpn.desktop";

    LoginItemStatus status() const override;
    std::optional<QString> setRegistered(bool registered) override;
    void openSettings() override;

    // Where the autostart entry lives, and the installed application entry (none when absent).
    static QString autostartPath();
    static std::optional<QString> installedEntryPath();
};

std::unique_ptr<LoginItems> makeLoginItems();

}  // namespace orlune
