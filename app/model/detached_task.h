#pragma once

#include <qcoro/qcorotask.h>

#include <utility>

namespace orlune {

// Runs a task started by a view to its end. It reports through the state of its owner, so
// there is nothing to hand back, and nothing may escape (it would be lost silently).
inline void detach(QCoro::Task<> task) {
    [](QCoro::Task<> running) -> QCoro::Task<> {
        try {
            co_await running;
        } catch (...) {
        }
    }(std::move(task));
}

}  // namespace orlune
