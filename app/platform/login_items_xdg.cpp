#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>

#include "platform/login_items.h"

namespace orlune {
namespace {

QString homeDirectory() { return qEnvironmentVariable("HOME", QDir::homePath()); }

// An XDG base directory: the variable when it names an absolute path, else the fallback
// (relative values are ignored, as the base directory rules require).
QString baseDirectory(const char* variable, const QString& fallback) {
    const QString value = qEnvironmentVariable(variable);
    return QDir::isAbsolutePath(value) ? value : fallback;
}

QStringList dataDirectories() {
    QStringList directories{baseDirectory("XDG_DATA_HOME", homeDirectory() + QStringLiteral("/.local/share"))};
    QString system = qEnvironmentVariable("XDG_DATA_DIRS");
    if (system.isEmpty()) system = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString& directory : system.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(directory)) directories << directory;
    }
    return directories;
}

// Whether a desktop entry's main group switches it off: "Hidden=true", or the GNOME key
// that some autostart settings write instead of removing the file.
bool switchedOff(const QByteArray& entry) {
    bool inMainGroup = false;
    for (QByteArray line : entry.split('\n')) {
        line = line.trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup) continue;
        if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false") return true;
    }
    return false;
}

// The autostart entry: the installed entry without the keys that would switch it off.
QByteArray autostartEntry(const QByteArray& installed) {
    QByteArray result;
    bool inMainGroup = false;
    for (const QByteArray& line : installed.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith('[')) inMainGroup = trimmed == "[Desktop Entry]";
        const bool dropped = inMainGroup && (trimmed.startsWith("Hidden=") ||
                                             trimmed.startsWith("X-GNOME-Autostart-enabled="));
        if (!dropped) result += line + '\n';
    }
    while (result.endsWith("\n\n")) result.chop(1);
    return result;
}

}  // namespace

QString XdgAutostart::autostartPath() {
    return baseDirectory("XDG_CONFIG_HOME", homeDirectory() + QStringLiteral("/.config")) +
           QStringLiteral("/autostart/") + QLatin1String(kEntryName);
}

std::optional<QString> XdgAutostart::installedEntryPath() {
    for (const QString& directory : dataDirectories()) {
        const QString path = directory + QStringLiteral("/applications/") + QLatin1String(kEntryName);
        if (QFileInfo(path).isFile()) return path;
    }
    return std::nullopt;
}

LoginItemStatus XdgAutostart::status() const {
    QFile entry(autostartPath());
    if (entry.open(QIODevice::ReadOnly)) {
        // An entry of ours, or one the user's desktop switched off.
        return switchedOff(entry.read(1 << 20)) ? LoginItemStatus::notRegistered : LoginItemStatus::enabled;
    }
    return installedEntryPath() ? LoginItemStatus::notRegistered : LoginItemStatus::notFound;
}

std::optional<QString> XdgAutostart::setRegistered(bool registered) {
    const QString path = autostartPath();
    if (!registered) {
        QFile entry(path);
        if (!entry.exists() || entry.remove()) return std::nullopt;
        return entry.errorString();
    }

    const auto installed = installedEntryPath();
    if (!installed) {
        return QStringLiteral("the app's desktop entry (%1) is not installed.").arg(QLatin1String(kEntryName));
    }
    QFile source(*installed);
    if (!source.open(QIODevice::ReadOnly)) return source.errorString();
    const QByteArray content = autostartEntry(source.read(1 << 20));

    if (!QDir().mkpath(QFileInfo(path).path())) {
        return QStringLiteral("the folder %1 could not be created.").arg(QFileInfo(path).path());
    }
    QSaveFile target(path);
    if (!target.open(QIODevice::WriteOnly) || target.write(content) != content.size() || !target.commit()) {
        return target.errorString();
    }
    return std::nullopt;
}

void XdgAutostart::openSettings() {
    const QString folder = QFileInfo(autostartPath()).path();
    QDir().mkpath(folder);
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

std::unique_ptr<LoginItems> makeLoginItems() { return std::make_unique<XdgAutostart>(); }

}  // namespace orlune
