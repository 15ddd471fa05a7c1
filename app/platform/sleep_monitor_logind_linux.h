#pragma once

#include "model/model_environment.h"

namespace orlune {

// Listens for logind's PrepareForSleep on the system bus: true before the system sleeps, false
// once it has woken. Only logind's own signals are believed.
class LogindSleepMonitor final : public SleepMonitor {
    Q_OBJECT

public:
    explicit LogindSleepMonitor(QObject* parent = nullptr);

    void start() override;

private slots:
    void prepareForSleep(bool sleeping);

private:
    bool started_ = false;
};

}  // namespace orlune
