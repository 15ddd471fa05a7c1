#include "ui/shell.h"

#include <QFont>
#include <QGuiApplication>
#include <QVariantMap>

#include <algorithm>

#include "catalog/catalog_cache.h"
#include "model/app_model.h"
#include "model/preferences.h"
#include "ui/connection_notifier.h"
#include "ui/notification_sink.h"
#include "ui/presentation.h"

namespace orlune::ui {
namespace {

struct PageEntry {
    const char* title;
    const char* icon;
    const char* screen;
};

// The sidebar, in order. The title is the page's identity in the model.
constexpr PageEntry kPages[] = {
    {"Home", "house", "home"},
    {"Servers", "server.rack", "servers"},
    {"Favorites", "star", "favorites"},
    {"Statistics", "chart.bar", "statistics"},
    {"Settings", "gearshape", "settings"},
    {"Help & Support", "questionmark.circle", "help"},
    {"About", "info.circle", "about"},
};

// Set once the user has been told that the app stays in the background without a tray.
constexpr const char* kBackgroundNoticeShown = "backgroundNoticeShown";

}  // namespace

Shell::Shell(AppModel& model, Preferences& preferences, std::unique_ptr<NotificationSink> notifications, Clock clock,
             QObject* parent)
    : QObject(parent),
      model_(model),
      preferences_(preferences),
      notificationSink_(std::move(notifications)),
      notifier_(std::make_unique<ConnectionNotifier>(model, preferences, *notificationSink_)),
      clock_(clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTimeUtc(); })) {
    connect(&model_, &AppModel::pageChanged, this, &Shell::pageChanged);
    connect(&model_, &AppModel::pageChanged, this, &Shell::pagesChanged);
    connect(&model_, &AppModel::rankingsChanged, this, &Shell::pagesChanged);
    connect(&model_, &AppModel::favoritesChanged, this, &Shell::pagesChanged);
    connect(&model_, &AppModel::offlineChanged, this, &Shell::catalogStatusChanged);
    connect(&model_, &AppModel::loadingChanged, this, &Shell::catalogStatusChanged);
    connect(&model_, &AppModel::keptCatalogDateChanged, this, &Shell::catalogStatusChanged);
    connect(&preferences_, &Preferences::changed, this, [this](const QString& key) {
        if (key == QLatin1String(PreferenceKey::appearance)) emit darkChanged();
    });
    refreshTimer_.setInterval(kRefreshPeriod);
    connect(&refreshTimer_, &QTimer::timeout, this, &Shell::periodicRefreshTick);
}

Shell::~Shell() = default;

bool Shell::keepsRunningAfterClose() {
    if (trayAvailable_) return true;
    if (!model_.connectionState().isConnected() && !model_.isConnectionBusy()) return false;
    if (!preferences_.boolValue(QString::fromLatin1(kBackgroundNoticeShown)).value_or(false)) {
        preferences_.setValue(QString::fromLatin1(kBackgroundNoticeShown), true);
        notificationSink_->post(QStringLiteral("Orlune VPN keeps the tunnel up"),
                                QStringLiteral("The window is closed, the VPN is still on. Open Orlune VPN again "
                                               "to show the window and disconnect."));
    }
    return true;
}

QVariantList Shell::pages() const {
    const QString current = model_.page();
    QVariantList list;
    for (const PageEntry& entry : kPages) {
        const QString title = QString::fromUtf8(entry.title);
        QString badge;
        if (title == QLatin1String("Servers")) badge = QString::number(model_.recommendedRelays().size());
        if (title == QLatin1String("Favorites") && !model_.favorites().isEmpty()) {
            badge = QString::number(model_.favorites().size());
        }
        list.append(QVariantMap{{QStringLiteral("title"), title},
                                {QStringLiteral("icon"), QString::fromUtf8(entry.icon)},
                                {QStringLiteral("badge"), badge},
                                {QStringLiteral("selected"), title == current}});
    }
    return list;
}

QString Shell::page() const {
    return model_.page();
}

QString Shell::screen() const {
    const QString current = model_.page();
    for (const PageEntry& entry : kPages) {
        if (current == QString::fromUtf8(entry.title)) return QString::fromUtf8(entry.screen);
    }
    return QStringLiteral("home");
}

namespace {
std::optional<QString> keptAge(const AppModel& model, const QDateTime& now) {
    if (!model.keptCatalogDate()) return std::nullopt;
    return catalogAgeText(*model.keptCatalogDate(), now);
}
}  // namespace

QString Shell::catalogStatusText() const {
    return catalogStatus(model_.offline(), model_.loading(), keptAge(model_, now())).text;
}
QString Shell::catalogStatusColor() const {
    return catalogStatus(model_.offline(), model_.loading(), keptAge(model_, now())).colorRole;
}

bool Shell::dark() const {
    return isDarkAppearance(preferences_.stringValue(PreferenceKey::appearance).value_or(QStringLiteral("System")),
                            systemDark_);
}

double Shell::textScale() const {
    const double points = QGuiApplication::font().pointSizeF();
    return points > 0 ? std::max(1.0, points / 10.0) : 1.0;
}

void Shell::setSystemDark(bool dark) {
    if (systemDark_ == dark) return;
    systemDark_ = dark;
    emit darkChanged();
}

void Shell::setTrayAvailable(bool available) {
    if (trayAvailable_ == available) return;
    trayAvailable_ = available;
    emit trayAvailableChanged();
}

void Shell::setWindowShown(bool shown) {
    if (windowShown_ == shown) return;
    windowShown_ = shown;
    notifier_->setActive(shown);
    // A new window waits a whole period before its first refresh.
    if (shown) {
        refreshTimer_.start();
    } else {
        refreshTimer_.stop();
    }
}

bool Shell::periodicRefreshTick() {
    RefreshFacts facts;
    facts.automaticRefreshEnabled = preferences_.boolValue(PreferenceKey::automaticRefreshEnabled).value_or(true);
    facts.refreshIntervalSeconds = preferences_.intValue(PreferenceKey::refreshIntervalSeconds).value_or(300);
    facts.catalogAge = model_.catalogAge();
    facts.state = model_.connectionState().kind;
    if (!periodicRefreshIsDue(facts)) return false;
    model_.requestRefreshIfIdle();
    return true;
}

void Shell::setPage(const QString& title) {
    model_.setPage(title);
}

}  // namespace orlune::ui
