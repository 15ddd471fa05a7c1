#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>
#include <QPointer>

#include "ui/shell.h"

namespace orlune::ui {

// A view model that a screen creates for itself and hands the shell. Every property is
// re-read on `changed`, which fires whenever the model state it depends on changes.
class ShellBound : public QObject {
    Q_OBJECT
    QML_ANONYMOUS
    Q_PROPERTY(orlune::ui::Shell* shell READ shell WRITE setShell NOTIFY shellChanged)

public:
    using QObject::QObject;

    Shell* shell() const { return shell_; }
    void setShell(Shell* shell);

signals:
    void shellChanged();
    void changed();

protected:
    // Connects the model's signals that the subclass depends on to `changed`.
    virtual void attach(Shell& shell) = 0;
    bool ready() const { return shell_ != nullptr; }
    AppModel& model() const { return shell_->model(); }

private:
    QPointer<Shell> shell_;
};

}  // namespace orlune::ui
