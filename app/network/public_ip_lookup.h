#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <qcoro/qcorotask.h>

#include <optional>

namespace orlune::PublicIPLookup {

// The public IPv4 address this machine shows to the outside, in dotted-decimal form. Asks
// four independent endpoints at once, each on its own fresh access manager; the first valid
// answer wins and the others are cancelled. Throws TunnelError::vpnIPUnavailable when none
// gives an address.
QCoro::Task<QString> current();

// The address in one endpoint's 200 answer: the first "ip=" line of a trace answer, otherwise
// the whole trimmed body; nothing unless that is an IPv4 address.
std::optional<QString> addressFromBody(const QByteArray& body);

// True only for what inet_pton accepts as IPv4: four decimal octets, no spaces, no IPv6.
bool isIPAddress(QStringView text);

}  // namespace orlune::PublicIPLookup
