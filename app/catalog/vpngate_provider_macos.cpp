#include "catalog/vpngate_provider.h"

namespace orlune {

const char* const kCatalogUserAgent = "Orlune-VPN/0.2 (macOS server catalog)";

}  // namespace orlune
