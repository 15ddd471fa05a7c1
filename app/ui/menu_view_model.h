#pragma once

#include <QtQml/qqmlregistration.h>

#include "ui/presentation.h"
#include "ui/shell_bound.h"

namespace orlune::ui {

// The small window of the tray icon: the status lines and which actions it offers.
class MenuViewModel : public orlune::ui::ShellBound {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString statusLine READ statusLine NOTIFY changed)
    Q_PROPERTY(QString captionLine READ captionLine NOTIFY changed)
    Q_PROPERTY(bool showConnect READ showConnect NOTIFY changed)
    Q_PROPERTY(bool connectEnabled READ connectEnabled NOTIFY changed)
    Q_PROPERTY(bool quickConnectEnabled READ quickConnectEnabled NOTIFY changed)
    Q_PROPERTY(bool disconnectEnabled READ disconnectEnabled NOTIFY changed)
    Q_PROPERTY(bool refreshEnabled READ refreshEnabled NOTIFY changed)

public:
    using ShellBound::ShellBound;

    QString statusLine() const;
    // Only while connected: the relay's name and address.
    QString captionLine() const;
    bool showConnect() const { return actions().showConnect; }
    bool connectEnabled() const { return actions().connectEnabled; }
    bool quickConnectEnabled() const { return actions().quickConnectEnabled; }
    bool disconnectEnabled() const { return actions().disconnectEnabled; }
    bool refreshEnabled() const { return actions().refreshEnabled; }

    Q_INVOKABLE void connectSelected();
    Q_INVOKABLE void quickConnect();
    Q_INVOKABLE void disconnectVpn();
    Q_INVOKABLE void refresh();
    Q_INVOKABLE void openMainWindow();
    Q_INVOKABLE void quit();

protected:
    void attach(Shell& shell) override;

private:
    MenuActions actions() const;
};

}  // namespace orlune::ui
