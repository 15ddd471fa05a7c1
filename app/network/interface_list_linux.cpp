#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <memory>

#include "network/interface_check.h"

namespace orlune {

std::vector<InterfaceAddress> readInterfaceAddresses() {
    std::vector<InterfaceAddress> entries;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return entries;
    const std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owner(list, &::freeifaddrs);
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_name || !entry->ifa_addr) continue;
        const int family = entry->ifa_addr->sa_family;
        entries.push_back(InterfaceAddress{
            .name = QString::fromLocal8Bit(entry->ifa_name),
            .up = (entry->ifa_flags & IFF_UP) != 0,
            .running = (entry->ifa_flags & IFF_RUNNING) != 0,
            .hasInternetAddress = family == AF_INET || family == AF_INET6,
        });
    }
    return entries;
}

}  // namespace orlune
