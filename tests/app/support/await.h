#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <qcoro/qcorotask.h>

#include <chrono>

#include <exception>
#include <optional>
#include <utility>

namespace orlune::test {

// Runs a task to completion on the current thread's event loop and returns its value or
// rethrows its exception. (QCoro::waitFor alone never returns when the task throws.)
template <class T>
T await(QCoro::Task<T> task) {
    std::exception_ptr error;
    std::optional<T> value;
    auto wrapper = [&]() -> QCoro::Task<void> {
        try {
            value.emplace(co_await std::move(task));
        } catch (...) {
            error = std::current_exception();
        }
    };
    QCoro::waitFor(wrapper());
    if (error) std::rethrow_exception(error);
    return std::move(*value);
}

inline void await(QCoro::Task<void> task) {
    std::exception_ptr error;
    auto wrapper = [&]() -> QCoro::Task<void> {
        try {
            co_await std::move(task);
        } catch (...) {
            error = std::current_exception();
        }
    };
    QCoro::waitFor(wrapper());
    if (error) std::rethrow_exception(error);
}

// Runs the event loop until `done` holds or `limit` passes; answers `done()`.
template <class Predicate>
bool waitUntil(Predicate done, std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) {
    QDeadlineTimer deadline(limit);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

// The exception a task ends with, or null when it succeeds.
template <class T>
std::exception_ptr failureOf(QCoro::Task<T> task) {
    try {
        await(std::move(task));
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

}  // namespace orlune::test
