#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

#include <memory>

#include "control/unique_fd.h"

namespace orlune {

// One window per user session. The first start holds a lock and listens on a socket beside it
// in the user's runtime directory ($XDG_RUNTIME_DIR, private to the user and cleared at
// logout); a later start finds the lock taken, asks the first to show its window, and ends.
// The kernel drops the lock with its holder, so a crashed window never blocks the next start.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Role { first, second };

    // `directory` defaults to the user's runtime directory.
    explicit SingleInstance(QString directory = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    Role role() const { return role_; }
    // Why the lock could not be used at all (then the role is `first`: better two windows than
    // none); empty otherwise.
    const QString& problem() const { return problem_; }

    // From a second start: asks the first to show its window. False when it did not answer
    // within `timeoutMs` (it may still be starting).
    bool activateFirst(int timeoutMs = 5000) const;

signals:
    // A later start asked for the window.
    void activationRequested();

private:
    QString socketPath() const;

    QString directory_;
    Role role_ = Role::first;
    QString problem_;
    UniqueFd lock_;
    std::unique_ptr<QLocalServer> server_;
};

}  // namespace orlune
