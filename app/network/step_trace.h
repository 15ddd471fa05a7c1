#pragma once

#include <QtGlobal>

namespace orlune {

// Times one step of a connect for the benchmark. With ORLUNE_TRACE_STEPS set in the environment,
// each finished step becomes one line "step NAME begin_ms=… end_ms=…" (wall clock, milliseconds
// since the epoch, comparable with the clock of whoever started the program) on standard error;
// without it nothing is printed and the cost is one flag test. Lives on one thread.
class StepTimer {
public:
    explicit StepTimer(const char* name);
    ~StepTimer() { finish(); }
    StepTimer(const StepTimer&) = delete;
    StepTimer& operator=(const StepTimer&) = delete;

    // Ends the step now; later calls and the destructor print nothing more.
    void finish();

    static bool enabled();

private:
    const char* name_;
    qint64 beginMs_ = 0;
    bool open_ = false;
};

}  // namespace orlune
