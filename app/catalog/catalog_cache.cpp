#include "catalog/catalog_cache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

#include "catalog/catalog_parsing.h"

namespace orlune {
namespace {

// A clock set back a little must not make a fresh list unusable; a date far ahead is no date.
constexpr qint64 kFutureToleranceSeconds = 24 * 3600;

[[noreturn]] void fail(const QString& sentence) {
    throw CatalogCacheError(sentence.toStdString());
}

QString megabytes(qint64 bytes) {
    return QString::number(double(bytes) / (1024 * 1024), 'f', 1) + " MB";
}

}  // namespace

CatalogCache::CatalogCache(QString path, qint64 maxBytes) : path_(std::move(path)), maxBytes_(maxBytes) {}

QString CatalogCache::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/orlune-vpn/catalog.csv");
}

void CatalogCache::keep(const QByteArray& body, const QDateTime& savedAt) const {
    if (body.size() > maxBytes_) {
        fail(QStringLiteral("The catalog (%1) is larger than the %2 kept on disk.")
                 .arg(megabytes(body.size()), megabytes(maxBytes_)));
    }
    if (!QDir().mkpath(QFileInfo(path_).absolutePath())) {
        fail(QStringLiteral("The cache folder %1 cannot be created.").arg(QFileInfo(path_).absolutePath()));
    }
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly))
        fail(QStringLiteral("The catalog could not be kept in %1: %2.").arg(path_, file.errorString()));
    // What relays the user looked at is the user's own business.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(body) != body.size() || !file.flush() ||
        !file.setFileTime(savedAt, QFileDevice::FileModificationTime) || !file.commit()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        fail(QStringLiteral("The catalog could not be kept in %1: %2.").arg(path_, reason));
    }
}

std::optional<KeptCatalog> CatalogCache::load(const QDateTime& now) const {
    QFile file(path_);
    if (!file.exists()) return std::nullopt;
    const QString lead = QStringLiteral("The kept catalog %1 was ignored: ").arg(path_);
    if (file.size() > maxBytes_) fail(lead + QStringLiteral("it is larger than %1.").arg(megabytes(maxBytes_)));
    if (!file.open(QIODevice::ReadOnly)) fail(lead + QStringLiteral("it cannot be read (%1).").arg(file.errorString()));
    KeptCatalog kept;
    kept.body = file.read(maxBytes_ + 1);
    kept.savedAt = file.fileTime(QFileDevice::FileModificationTime).toUTC();
    if (kept.body.size() > maxBytes_) fail(lead + QStringLiteral("it is larger than %1.").arg(megabytes(maxBytes_)));
    if (!kept.savedAt.isValid() || kept.savedAt.secsTo(now) < -kFutureToleranceSeconds) {
        fail(lead + QStringLiteral("its date lies in the future."));
    }
    try {
        kept.relays = parseCatalog(kept.body);
    } catch (const std::exception&) {
        fail(lead + QStringLiteral("it is not a VPN Gate relay list."));
    }
    if (kept.relays.empty()) fail(lead + QStringLiteral("it lists no usable relay."));
    return kept;
}

bool keptCatalogUsableForConnecting(const QDateTime& savedAt, const QDateTime& now) {
    return savedAt.isValid() && savedAt.secsTo(now) <= kKeptCatalogConnectLimitSeconds;
}

QString catalogAgeText(const QDateTime& savedAt, const QDateTime& now) {
    const qint64 seconds = std::max<qint64>(0, savedAt.secsTo(now));
    const auto unit = [](qint64 count, const char* one, const char* many) {
        return QStringLiteral("%1 %2 ago").arg(count).arg(QLatin1String(count == 1 ? one : many));
    };
    if (seconds < 60) return QStringLiteral("just now");
    if (seconds < 3600) return unit(seconds / 60, "minute", "minutes");
    if (seconds < 86400) return unit(seconds / 3600, "hour", "hours");
    return unit(seconds / 86400, "day", "days");
}

}  // namespace orlune
