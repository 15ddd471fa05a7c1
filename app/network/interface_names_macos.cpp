#include "network/interface_names.h"

#include <array>

namespace orlune {
namespace {

// macOS names every wired and Wi-Fi link en*, bridges bridge*, tunnels utun*.
constexpr std::array<QStringView, 1> kPhysical = {u"en"};
constexpr std::array<QStringView, 2> kPhysicalRoute = {u"en", u"bridge"};

}  // namespace

const std::span<const QStringView> kPhysicalInterfacePrefixes = kPhysical;
const std::span<const QStringView> kPhysicalRoutePrefixes = kPhysicalRoute;
const QStringView kTunnelInterfacePrefix = u"utun";

}  // namespace orlune
