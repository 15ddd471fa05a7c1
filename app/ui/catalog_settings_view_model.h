#pragma once

#include <QtQml/qqmlregistration.h>
#include <QString>
#include <QStringList>

#include "ui/shell_bound.h"

namespace orlune::ui {

// The Settings screen's catalog section: the mirrors tried after the primary catalog and the
// proxy that catalog and profile downloads use. Nothing is stored until it is valid; the proxy
// password is handed to this session's downloads only and never stored.
class CatalogSettingsViewModel : public orlune::ui::ShellBound {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString mirrorsText READ mirrorsText NOTIFY changed)
    Q_PROPERTY(QString mirrorsMessage READ mirrorsMessage NOTIFY changed)
    Q_PROPERTY(bool mirrorsRejected READ mirrorsRejected NOTIFY changed)
    Q_PROPERTY(QStringList proxyModes READ proxyModes CONSTANT)
    Q_PROPERTY(int proxyModeIndex READ proxyModeIndex NOTIFY changed)
    Q_PROPERTY(bool proxyFieldsEnabled READ proxyFieldsEnabled NOTIFY changed)
    Q_PROPERTY(QString proxyHost READ proxyHost NOTIFY changed)
    Q_PROPERTY(QString proxyPort READ proxyPort NOTIFY changed)
    Q_PROPERTY(QString proxyUser READ proxyUser NOTIFY changed)
    Q_PROPERTY(QString proxyMessage READ proxyMessage NOTIFY changed)
    Q_PROPERTY(bool proxyRejected READ proxyRejected NOTIFY changed)

public:
    explicit CatalogSettingsViewModel(QObject* parent = nullptr);

    QString mirrorsText() const;
    QString mirrorsMessage() const { return mirrorsMessage_; }
    bool mirrorsRejected() const { return mirrorsRejected_; }
    QStringList proxyModes() const;
    int proxyModeIndex() const;
    bool proxyFieldsEnabled() const;
    QString proxyHost() const;
    QString proxyPort() const;
    QString proxyUser() const;
    QString proxyMessage() const { return proxyMessage_; }
    bool proxyRejected() const { return proxyRejected_; }

    // Stores the mirror list when every line is a usable catalog URL; otherwise says which is not.
    Q_INVOKABLE void applyMirrors(const QString& text);
    // Stores the proxy (mode, host, port, user) when it is complete; the password goes to this
    // session's downloads only.
    Q_INVOKABLE void applyProxy(int modeIndex, const QString& host, const QString& port, const QString& user,
                                const QString& password);

protected:
    void attach(Shell& shell) override;

private:
    QString stored(const char* key) const;

    QString mirrorsMessage_;
    bool mirrorsRejected_ = false;
    QString proxyMessage_;
    bool proxyRejected_ = false;
};

}  // namespace orlune::ui
