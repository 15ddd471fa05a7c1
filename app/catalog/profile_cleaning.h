#pragma once

#include <QString>
#include <QStringView>

#include "core/relay.h"

namespace orlune {

// Decodes a profile column: strict standard Base64 (padded, nothing outside the alphabet, no
// line breaks), then UTF-8. Throws TunnelError::serverProfileInvalid.
QString decodeProfile(QStringView base64);

// Checks a relay's profile against the app's own safety rules and returns the cleaned text:
// blank lines inside inline blocks and the app-managed timing directives removed, the app's
// own directives appended, lines joined with LF. Throws TunnelError::unsafeServerConfiguration
// for a script or management hook, a certificate or key given as a file, a missing
// ca/cert/key block, not exactly one remote, or a remote other than the relay's address.
QString cleanedProfile(QStringView profile, const Relay& relay);

}  // namespace orlune
