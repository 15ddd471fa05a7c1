#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>

#include "platform/login_items.h"

namespace orlune {
namespace {

QString homeDirectory() {
    return qEnvironmentVariable("HOME", QDir::homePath());
}

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

// A line of a desktop entry as key and value; keys and values may have spaces around "=".
struct EntryLine {
    QByteArray key;
    QByteArray value;
};

std::optional<EntryLine> keyAndValue(const QByteArray& line) {
    const qsizetype equals = line.indexOf('=');
    if (equals <= 0) return std::nullopt;
    return EntryLine{line.left(equals).trimmed(), line.mid(equals + 1).trimmed()};
}

// Keys of the main group that switch an autostart entry off: "Hidden", or the GNOME key that
// some autostart settings write instead of removing the file.
bool isSwitch(const QByteArray& key) {
    return key == "Hidden" || key == "X-GNOME-Autostart-enabled";
}

bool switchedOff(const QByteArray& entry) {
    bool inMainGroup = false;
    for (const QByteArray& raw : entry.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const auto pair = keyAndValue(line);
        if (!inMainGroup || !pair) continue;
        if ((pair->key == "Hidden" && pair->value == "true") ||
            (pair->key == "X-GNOME-Autostart-enabled" && pair->value == "false")) {
            return true;
        }
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
        const auto pair = keyAndValue(trimmed);
        const bool dropped = inMainGroup && pair && isSwitch(pair->key);
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
    // A link in its place (to an application entry, say) is replaced, never written through.
    if (QFileInfo(path).isSymLink() && !QFile::remove(path)) {
        return QStringLiteral("the link %1 could not be replaced.").arg(path);
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

std::unique_ptr<LoginItems> makeLoginItems() {
    return std::make_unique<XdgAutostart>();
}

}  // namespace orlune
