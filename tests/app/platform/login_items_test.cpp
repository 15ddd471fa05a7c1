// The XDG autostart entry in temporary base directories: written, removed, and the status read
// back, including entries the desktop switched off and an app that is not installed.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "platform/login_items.h"

namespace orlune {
namespace {

constexpr char kInstalledEntry[] =
    "[Desktop Entry]\n"
    "Type=Application\n"
    "Name=Orlune VPN\n"
    "Exec=orlune-vpn\n"
    "Hidden=false\n"
    "\n"
    "[Desktop Action Quit]\n"
    "Name=Quit\n"
    "Hidden=true\n";

class ScopedVariable {
public:
    ScopedVariable(const char* name, const QByteArray& value) : name_(name), had_(qEnvironmentVariableIsSet(name)) {
        if (had_) old_ = qgetenv(name);
        qputenv(name, value);
    }
    ~ScopedVariable() { had_ ? qputenv(name_, old_) : qunsetenv(name_); }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

QByteArray read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write(const QString& path, const QByteArray& content) {
    QDir().mkpath(path.section('/', 0, -2));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

class XdgAutostartTest : public ::testing::Test {
protected:
    QString config() const { return root.path() + "/config"; }
    QString systemData() const { return root.path() + "/system"; }
    QString installedPath() const { return systemData() + "/applications/orlune-vpn.desktop"; }
    QString autostartPath() const { return config() + "/autostart/orlune-vpn.desktop"; }

    QTemporaryDir root;
    ScopedVariable configHome{"XDG_CONFIG_HOME", (root.path() + "/config").toUtf8()};
    ScopedVariable dataHome{"XDG_DATA_HOME", (root.path() + "/user-data").toUtf8()};
    ScopedVariable dataDirs{"XDG_DATA_DIRS", ("relative/ignored:" + root.path() + "/system").toUtf8()};
    XdgAutostart autostart;
};

TEST_F(XdgAutostartTest, RegisterAndUnregister) {
    write(installedPath(), kInstalledEntry);
    EXPECT_EQ(XdgAutostart::autostartPath(), autostartPath());
    EXPECT_EQ(XdgAutostart::installedEntryPath(), installedPath());
    EXPECT_EQ(autostart.status(), LoginItemStatus::notRegistered);

    EXPECT_EQ(autostart.setRegistered(true), std::nullopt);
    EXPECT_EQ(autostart.status(), LoginItemStatus::enabled);
    // The installed entry, without the key that could hide it; other groups untouched.
    const QByteArray written = read(autostartPath());
    EXPECT_TRUE(written.startsWith("[Desktop Entry]\nType=Application\nName=Orlune VPN\nExec=orlune-vpn\n"));
    EXPECT_FALSE(written.contains("Hidden=false"));
    EXPECT_TRUE(written.contains("[Desktop Action Quit]\nName=Quit\nHidden=true\n"));

    // Registering twice is harmless; removing twice too.
    EXPECT_EQ(autostart.setRegistered(true), std::nullopt);
    EXPECT_EQ(autostart.setRegistered(false), std::nullopt);
    EXPECT_FALSE(QFile::exists(autostartPath()));
    EXPECT_EQ(autostart.status(), LoginItemStatus::notRegistered);
    EXPECT_EQ(autostart.setRegistered(false), std::nullopt);
}

TEST_F(XdgAutostartTest, TheUsersOwnEntryComesFirst) {
    write(installedPath(), kInstalledEntry);
    const QString userEntry = root.path() + "/user-data/applications/orlune-vpn.desktop";
    write(userEntry, "[Desktop Entry]\nType=Application\nName=Orlune VPN (mine)\nExec=/opt/orlune/orlune-vpn\n");
    EXPECT_EQ(XdgAutostart::installedEntryPath(), userEntry);
    ASSERT_EQ(autostart.setRegistered(true), std::nullopt);
    EXPECT_TRUE(read(autostartPath()).contains("Exec=/opt/orlune/orlune-vpn"));
}

TEST_F(XdgAutostartTest, EntriesTheDesktopSwitchedOffAreNotEnabled) {
    write(installedPath(), kInstalledEntry);
    write(autostartPath(), "[Desktop Entry]\nName=Orlune VPN\nHidden=true\n");
    EXPECT_EQ(autostart.status(), LoginItemStatus::notRegistered);
    write(autostartPath(), "[Desktop Entry]\nName=Orlune VPN\nX-GNOME-Autostart-enabled=false\n");
    EXPECT_EQ(autostart.status(), LoginItemStatus::notRegistered);
    // Spaces around "=" are allowed.
    write(autostartPath(), "[Desktop Entry]\nName=Orlune VPN\nHidden = true\n");
    EXPECT_EQ(autostart.status(), LoginItemStatus::notRegistered);
    // Hidden in another group does not count.
    write(autostartPath(), "[Desktop Entry]\nName=Orlune VPN\n[Desktop Action Quit]\nHidden=true\n");
    EXPECT_EQ(autostart.status(), LoginItemStatus::enabled);
    // Enabling replaces a switched-off entry.
    write(autostartPath(), "[Desktop Entry]\nName=Orlune VPN\nHidden=true\n");
    ASSERT_EQ(autostart.setRegistered(true), std::nullopt);
    EXPECT_EQ(autostart.status(), LoginItemStatus::enabled);
}

TEST_F(XdgAutostartTest, ALinkInPlaceOfTheEntryIsReplacedNotWrittenThrough) {
    write(installedPath(), kInstalledEntry);
    const QString userEntry = root.path() + "/user-data/applications/orlune-vpn.desktop";
    write(userEntry, "[Desktop Entry]\nName=Orlune VPN\nExec=orlune-vpn\nHidden = true\n");
    QDir().mkpath(config() + "/autostart");
    ASSERT_TRUE(QFile::link(userEntry, autostartPath()));
    EXPECT_EQ(autostart.status(), LoginItemStatus::notRegistered);

    ASSERT_EQ(autostart.setRegistered(true), std::nullopt);
    EXPECT_FALSE(QFileInfo(autostartPath()).isSymLink());
    EXPECT_EQ(autostart.status(), LoginItemStatus::enabled);
    EXPECT_FALSE(read(autostartPath()).contains("Hidden"));
    // The user's application entry is as it was.
    EXPECT_EQ(read(userEntry), "[Desktop Entry]\nName=Orlune VPN\nExec=orlune-vpn\nHidden = true\n");
}

TEST_F(XdgAutostartTest, WithoutAnInstalledEntryTheAppIsNotFound) {
    EXPECT_EQ(autostart.status(), LoginItemStatus::notFound);
    const auto failure = autostart.setRegistered(true);
    ASSERT_TRUE(failure.has_value());
    EXPECT_TRUE(failure->contains("orlune-vpn.desktop")) << failure->toStdString();
    EXPECT_FALSE(QFile::exists(autostartPath()));
    EXPECT_EQ(autostart.status(), LoginItemStatus::notFound);
}

TEST_F(XdgAutostartTest, AFolderThatCannotBeMadeIsReported) {
    write(installedPath(), kInstalledEntry);
    // A file where the autostart folder belongs: no one can create the folder, root included.
    write(config() + "/autostart", "not a folder");
    const auto failure = autostart.setRegistered(true);
    ASSERT_TRUE(failure.has_value());
    EXPECT_TRUE(failure->contains("autostart")) << failure->toStdString();
    EXPECT_EQ(autostart.status(), LoginItemStatus::notRegistered);
}

TEST(XdgAutostartDefaults, ConfigHomeFallsBackToDotConfig) {
    ScopedVariable home("HOME", "/home/someone");
    ScopedVariable relative("XDG_CONFIG_HOME", "not/absolute");
    EXPECT_EQ(XdgAutostart::autostartPath(), "/home/someone/.config/autostart/orlune-vpn.desktop");
}

}  // namespace
}  // namespace orlune
