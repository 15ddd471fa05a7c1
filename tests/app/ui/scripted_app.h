#pragma once

// A window over a model of fakes, for the smoke test and the screenshots: no network, no
// service, no desktop.

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>

#include <functional>
#include <memory>

#include "model_fakes.h"
#include "platform/login_items.h"
#include "platform/notification_permission.h"
#include "ui/app_windows.h"
#include "ui/notification_sink.h"
#include "ui/shell.h"

namespace orlune::test {

// The first object under `root` that satisfies `match`, through both the object and the visual
// tree (a loaded page and a popup's content hang only in the latter).
inline QObject* findObject(QObject* root, const std::function<bool(QObject*)>& match) {
    if (!root) return nullptr;
    if (match(root)) return root;
    for (QObject* child : root->children()) {
        if (QObject* found = findObject(child, match)) return found;
    }
    if (auto* item = qobject_cast<QQuickItem*>(root)) {
        for (QQuickItem* child : item->childItems()) {
            if (QObject* found = findObject(child, match)) return found;
        }
    }
    return nullptr;
}

// The Theme singleton of an engine (its colours, `dark`, `textScale`), or null.
inline QObject* theme(QQmlEngine& engine) {
    QQmlComponent component(&engine);
    component.setData("import QtQuick\nimport Orlune.Ui\nQtObject { property QtObject theme: Theme }", QUrl());
    QObject* holder = component.create();
    if (!holder) return nullptr;
    holder->setParent(&engine);
    return holder->property("theme").value<QObject*>();
}

struct SilentSink final : ui::NotificationSink {
    void post(const QString&, const QString&) override {}
};

// A desktop that keeps launch at login in memory and always allows notifications.
struct ScriptedLoginItems final : LoginItems {
    LoginItemStatus* state;
    explicit ScriptedLoginItems(LoginItemStatus* s) : state(s) {}
    LoginItemStatus status() const override { return *state; }
    std::optional<QString> setRegistered(bool registered) override {
        *state = registered ? LoginItemStatus::enabled : LoginItemStatus::notRegistered;
        return std::nullopt;
    }
    void openSettings() override {}
};

struct ScriptedPermission final : NotificationPermission {
    QCoro::Task<NotificationAuthorization> request() override { co_return NotificationAuthorization::granted(); }
};

class ScriptedApp {
public:
    ScriptedApp() {
        catalog().relays = {
            makeRelay("public-vpn-211", "Japan", "JP", 14, 182'400'000, "198.51.100.11"),
            makeRelay("vpn573091128", "Japan", "JP", 22, 96'300'000, "198.51.100.12"),
            makeRelay("opengw-kr-27", "Korea Republic of", "KR", 31, 64'100'000, "198.51.100.21"),
            makeRelay("kr-seoul-relay", "Korea Republic of", "KR", 48, 41'000'000, "198.51.100.22"),
            makeRelay("us-west-vg7", "United States", "US", 118, 38'900'000, "198.51.100.31"),
            makeRelay("th-bkk-node", "Thailand", "TH", 64, 27'500'000, "198.51.100.41"),
        };
        shell = std::make_unique<ui::Shell>(fixture.model(), fixture.preferences(), std::make_unique<SilentSink>(),
                                            [this] { return fixture.clock->current; });
        ui::DesktopServices services;
        services.loginItems = [this] { return std::make_unique<ScriptedLoginItems>(&loginItem); };
        services.notificationPermission = std::make_shared<ScriptedPermission>();
        services.operatingSystem = [] {
            return QStringLiteral("Debian GNU/Linux 12 (bookworm), kernel 6.1.0-28-amd64");
        };
        services.serviceAvailable = [] { return true; };
        services.copyText = [this](const QString& text) { copied << text; };
        services.openUrl = [this](const QUrl& url) { opened << url; };
        services.identity = {QStringLiteral("0.1.0"), QStringLiteral("120")};
        shell->setServices(std::move(services));
    }
    void open(bool showMain = true, bool useTray = false) {
        windows = std::make_unique<ui::AppWindows>(*shell, ui::AppWindows::Options{useTray, showMain});
    }
    FakeCatalog& catalog() { return *fixture.catalog; }
    AppModel& model() { return fixture.model(); }

    ModelFixture fixture;
    std::unique_ptr<ui::Shell> shell;
    std::unique_ptr<ui::AppWindows> windows;
    LoginItemStatus loginItem = LoginItemStatus::notRegistered;
    QStringList copied;
    QList<QUrl> opened;
};

}  // namespace orlune::test
