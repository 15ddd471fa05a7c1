#include "engine/engine_interface.h"

namespace orlune {

const std::string_view kEngineDnsHook = "/usr/bin/true";

}  // namespace orlune
