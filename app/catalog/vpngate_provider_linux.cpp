#include "catalog/vpngate_provider.h"

namespace orlune {

const char* const kCatalogUserAgent = "Orlune-VPN/0.2 (Linux server catalog)";

}  // namespace orlune
