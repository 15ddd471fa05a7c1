#include "core/tool_runner.h"

namespace orlune {

const std::vector<std::string>& toolEnvironment() {
    static const std::vector<std::string> environment{"PATH=/usr/bin:/bin:/usr/sbin:/sbin", "LANG=C", "HOME=/var/root"};
    return environment;
}

}  // namespace orlune
