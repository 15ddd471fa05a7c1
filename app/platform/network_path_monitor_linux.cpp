#include "platform/network_path_monitor_linux.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <QFile>

#include <array>

#include "network/interface_check.h"

namespace orlune {
namespace {

// Changes come in bursts (a link, then its address, then its routes); one report per burst.
constexpr int kSettleMilliseconds = 200;

// Whether /proc/net/route lists an IPv4 default route (destination and mask 0).
bool hasDefaultIPv4Route() {
    QFile table(QStringLiteral("/proc/net/route"));
    if (!table.open(QIODevice::ReadOnly | QIODevice::Text)) return false;
    table.readLine();  // header
    while (!table.atEnd()) {
        const QList<QByteArray> fields = table.readLine().simplified().split(' ');
        if (fields.size() >= 8 && fields[1] == "00000000" && fields[7] == "00000000") return true;
    }
    return false;
}

}  // namespace

LinuxNetworkPathMonitor::LinuxNetworkPathMonitor(QObject* parent) : NetworkPathMonitor(parent) {
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMilliseconds);
    connect(&settle_, &QTimer::timeout, this, [this] { emit pathChanged(currentStatus()); });
}

LinuxNetworkPathMonitor::~LinuxNetworkPathMonitor() = default;

void LinuxNetworkPathMonitor::start() {
    if (socket_) return;
    socket_.reset(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE));
    if (!socket_) return;  // no reports; the health timer still re-checks a tunnel
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE;
    if (::bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        socket_.reset();
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(socket_.get(), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &LinuxNetworkPathMonitor::drain);
    // The first report is the path as it is now.
    settle_.start();
}

void LinuxNetworkPathMonitor::drain() {
    std::array<char, 16384> buffer;
    // The content does not matter: any message means the path may have changed.
    while (::recv(socket_.get(), buffer.data(), buffer.size(), MSG_DONTWAIT) > 0) {
    }
    settle_.start();
}

NetworkPathStatus LinuxNetworkPathMonitor::currentStatus() {
    const bool linkUp = anyPhysicalInterfaceUp(readInterfaceAddresses());
    return linkUp && hasDefaultIPv4Route() ? NetworkPathStatus::satisfied : NetworkPathStatus::unsatisfied;
}

}  // namespace orlune
