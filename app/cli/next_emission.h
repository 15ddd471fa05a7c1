#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

#include <coroutine>
#include <memory>

namespace orlune {

// Awaits the next emission of a signal that may fire several times before the waiting
// coroutine runs again (two Ctrl-C read at once, a flag set and cleared). Only the first
// emission counts: it cuts the connection at once, so later ones reach nothing; the coroutine
// resumes once, from the event loop, never inside the emission, so it may end the sender.
// (An awaiter woken by a queued call per emission is woken again by the second call after it
// is gone: a use after free.)
template <class Sender, class Signal>
class NextEmission {
public:
    NextEmission(Sender* sender, Signal signal) : sender_(sender), signal_(signal) {}

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> waiting) {
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = QObject::connect(
            sender_, signal_, sender_,
            [connection, waiting](auto&&...) {
                if (!QObject::disconnect(*connection)) return;
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(), [waiting] { waiting.resume(); }, Qt::QueuedConnection);
            },
            Qt::DirectConnection);
    }
    void await_resume() const noexcept {}

private:
    Sender* sender_;
    Signal signal_;
};

template <class Sender, class Signal>
NextEmission<Sender, Signal> nextEmission(Sender* sender, Signal signal) {
    return {sender, signal};
}

}  // namespace orlune
