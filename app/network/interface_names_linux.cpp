#include "network/interface_names.h"

#include <array>

namespace orlune {
namespace {

// Linux names wired links en*/eth*, Wi-Fi wl*, mobile ww*, bridges br*.
constexpr std::array<QStringView, 4> kPhysical = {u"en", u"eth", u"wl", u"ww"};
constexpr std::array<QStringView, 5> kPhysicalRoute = {u"en", u"eth", u"wl", u"ww", u"br"};

}  // namespace

const std::span<const QStringView> kPhysicalInterfacePrefixes = kPhysical;
const std::span<const QStringView> kPhysicalRoutePrefixes = kPhysicalRoute;
const QStringView kTunnelInterfacePrefix = u"tun";

}  // namespace orlune
