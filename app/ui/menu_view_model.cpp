#include "ui/menu_view_model.h"

#include "model/app_model.h"

namespace orlune::ui {

void MenuViewModel::attach(Shell& shell) {
    AppModel& m = shell.model();
    for (auto signal : {&AppModel::connectionStateChanged, &AppModel::isStoppingTunnelChanged,
                        &AppModel::offlineChanged, &AppModel::loadingChanged, &AppModel::selectedChanged}) {
        connect(&m, signal, this, &MenuViewModel::changed);
    }
}

MenuActions MenuViewModel::actions() const {
    if (!ready()) return {};
    const AppModel& m = model();
    return menuActions(
        {m.connectionState().kind, m.isStoppingTunnel(), m.offline(), m.loading(), m.selected().has_value()});
}

QString MenuViewModel::statusLine() const {
    if (!ready()) return {};
    return menuStatusLine(model().connectionState(), model().isStoppingTunnel(), model().offline());
}

QString MenuViewModel::captionLine() const {
    if (!ready() || !model().connectionState().isConnected()) return {};
    const auto& relay = model().connectionState().relay;
    return relay ? relay->name + " · " + relay->hostname : QString();
}

void MenuViewModel::connectSelected() {
    if (showConnect() && connectEnabled()) model().requestConnect();
}

void MenuViewModel::quickConnect() {
    if (showConnect() && quickConnectEnabled()) model().requestQuickConnect();
}

void MenuViewModel::disconnectVpn() {
    if (!showConnect() && disconnectEnabled()) model().requestDisconnect();
}

void MenuViewModel::refresh() {
    if (refreshEnabled()) model().requestRefresh();
}

void MenuViewModel::openMainWindow() {
    if (shell()) shell()->openMainWindow();
}

void MenuViewModel::quit() {
    if (shell()) shell()->quit();
}

}  // namespace orlune::ui
