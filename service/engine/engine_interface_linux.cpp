#include "engine/engine_interface.h"

namespace orlune {

const std::string_view kEngineDnsHook = "/bin/true";

}  // namespace orlune
