#pragma once

#include <QString>

#include <vector>

namespace orlune {

// One entry of the system's interface address list, reduced to what the link test needs.
struct InterfaceAddress {
    QString name;
    bool up = false;
    bool running = false;
    bool hasInternetAddress = false;  // an IPv4 or IPv6 address
};

// True when one entry is a physical interface (by name) that is up, running and addressed.
bool anyPhysicalInterfaceUp(const std::vector<InterfaceAddress>& entries);

// The system's interface addresses (getifaddrs); empty when the call fails.
std::vector<InterfaceAddress> readInterfaceAddresses();

}  // namespace orlune
