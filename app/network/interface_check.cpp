#include "network/interface_check.h"

#include "network/interface_names.h"

namespace orlune {

bool anyPhysicalInterfaceUp(const std::vector<InterfaceAddress>& entries) {
    for (const InterfaceAddress& entry : entries) {
        if (entry.name.isEmpty() || !entry.hasInternetAddress) continue;
        if (!entry.up || !entry.running) continue;
        if (hasPrefix(entry.name, kPhysicalInterfacePrefixes)) return true;
    }
    return false;
}

}  // namespace orlune
