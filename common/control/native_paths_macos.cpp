#include "control/native_paths.h"

namespace orlune::NativePaths {

const std::string_view socket = "/var/run/orlune-vpn/control.sock";
const std::string_view socketDirectory = "/var/run/orlune-vpn";
const std::string_view support = "/Library/Application Support/Orlune VPN";
const std::string_view state = "/Library/Application Support/Orlune VPN/State";
const std::string_view engine = "/Library/Application Support/Orlune VPN/Engine/openvpn";
const std::string_view manifest = "/Library/Application Support/Orlune VPN/client.json";

}  // namespace orlune::NativePaths
