#pragma once

namespace orlune {

// Makes every program the service starts from now on (the engine and the system tools) run with
// CAP_NET_ADMIN alone, though as root: root's programs no longer gain every capability at exec
// (the noroot security bits, locked), CAP_NET_ADMIN is passed on as the one ambient capability,
// and, where the service may (CAP_SETPCAP), the rest leave the bounding set too. The service's
// own effective capabilities stay. Never throws: where the system refuses a step, the others
// still apply.
void confineChildCapabilities();

}  // namespace orlune
