#pragma once

#include <QString>

#include <qcoro/qcorotask.h>

namespace orlune::ExitCountryLookup {

// The upper-case two-letter country of `address`, asked of the IP-information endpoint
// (base + address + "/country") on a fresh access manager. Throws
// TunnelError::exitCountryUnavailable for any answer that is not status 200 with exactly two
// letters, and TransportError when no answer arrives.
QCoro::Task<QString> countryCode(QString address);

}  // namespace orlune::ExitCountryLookup
