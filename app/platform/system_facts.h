#pragma once

#include <QString>

namespace orlune {

// The distribution's pretty name and the kernel release, e.g.
// "Debian GNU/Linux 12 (bookworm), kernel 6.1.0-28-amd64".
QString operatingSystemDescription();

}  // namespace orlune
