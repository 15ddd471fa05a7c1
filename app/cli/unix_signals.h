#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <initializer_list>
#include <memory>

#include "control/unique_fd.h"

namespace orlune {

// Turns SIGINT/SIGTERM into a Qt signal on the event loop (a handler may only write a byte).
class UnixSignalWatcher : public QObject {
    Q_OBJECT

public:
    explicit UnixSignalWatcher(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
    ~UnixSignalWatcher() override;

signals:
    void received(int signal);

private:
    UniqueFd readEnd_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace orlune
