#pragma once

#include <memory>

#include "core/tool_runner.h"
#include "dns/dns_backend.h"

namespace orlune {

// The one place that decides which DNS backend this system uses. `runner` must outlive it.
std::unique_ptr<DNSBackend> makeSystemDNSBackend(ToolRunner& runner);

}  // namespace orlune
