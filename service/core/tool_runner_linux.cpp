#include "core/tool_runner.h"

namespace orlune {

const std::vector<std::string>& toolEnvironment() {
    static const std::vector<std::string> environment{"PATH=/usr/bin:/bin:/usr/sbin:/sbin", "LANG=C", "HOME=/root"};
    return environment;
}

}  // namespace orlune
