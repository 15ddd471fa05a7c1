#include "control/native_paths.h"

namespace orlune::NativePaths {

const std::string_view socket = "/run/orlune-vpn/control.sock";
const std::string_view socketDirectory = "/run/orlune-vpn";
const std::string_view support = "/var/lib/orlune-vpn";
const std::string_view state = "/var/lib/orlune-vpn/state";
const std::string_view engine = "/usr/sbin/openvpn";
const std::string_view manifest = "/var/lib/orlune-vpn/client.json";

}  // namespace orlune::NativePaths
