#pragma once

#include <QDBusMessage>

#include "model/model_environment.h"

namespace orlune {

// Listens for logind's PrepareForSleep on the system bus: true before the system sleeps, false
// once it has woken. Only signals sent by root are believed, so no other account can make the
// app re-check its tunnel (or keep it re-checking) at will.
class LogindSleepMonitor final : public SleepMonitor {
    Q_OBJECT

public:
    explicit LogindSleepMonitor(QObject* parent = nullptr);

    void start() override;

private slots:
    void prepareForSleep(bool sleeping, const QDBusMessage& message);

private:
    bool started_ = false;
};

}  // namespace orlune
