#pragma once

#include <QSocketNotifier>
#include <QTimer>

#include <memory>

#include "control/unique_fd.h"
#include "model/model_environment.h"

namespace orlune {

// Watches the kernel's routing messages (links, IPv4 addresses, IPv4 routes) and reports the
// network path after each burst of changes has settled.
class LinuxNetworkPathMonitor final : public NetworkPathMonitor {
    Q_OBJECT

public:
    explicit LinuxNetworkPathMonitor(QObject* parent = nullptr);
    ~LinuxNetworkPathMonitor() override;

    void start() override;

    // Satisfied when a physical interface is up and running with an address and a default IPv4
    // route exists.
    static NetworkPathStatus currentStatus();

private:
    void drain();

    UniqueFd socket_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer settle_;
};

}  // namespace orlune
