#include "network/step_trace.h"

#include <QDateTime>

#include <cstdio>

namespace orlune {

bool StepTimer::enabled() {
    static const bool on = !qEnvironmentVariableIsEmpty("ORLUNE_TRACE_STEPS");
    return on;
}

StepTimer::StepTimer(const char* name) : name_(name) {
    if (!enabled()) return;
    beginMs_ = QDateTime::currentMSecsSinceEpoch();
    open_ = true;
}

void StepTimer::finish() {
    if (!open_) return;
    open_ = false;
    std::fprintf(stderr, "step %s begin_ms=%lld end_ms=%lld\n", name_, static_cast<long long>(beginMs_),
                 static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
    std::fflush(stderr);
}

}  // namespace orlune
