#include "tunnel/control_channel.h"

#include <QtConcurrent/QtConcurrentRun>

#include <qcoro/qcorofuture.h>

#include <exception>
#include <variant>

#include "control/native_wire.h"

namespace orlune {

ControlChannel::ControlChannel(std::string socketPath) : socketPath_(std::move(socketPath)) {
    worker_.setMaxThreadCount(1);
    // The thread stays while the app lives: exchanges come several times a second while connecting.
    worker_.setExpiryTimeout(-1);
}

ControlChannel::~ControlChannel() {
    worker_.waitForDone();
}

namespace {

// QFuture only carries QException types across threads; any other exception is carried by
// hand so that the caller sees it unchanged.
using Outcome = std::variant<NativeReply, std::exception_ptr>;

// Kept out of the coroutine: the job owns plain copies, with no coroutine frame involved.
QFuture<Outcome> startExchange(QThreadPool* worker, NativeRequest request, std::string path) {
    return QtConcurrent::run(worker, [request = std::move(request), path = std::move(path)]() -> Outcome {
        try {
            return NativeWire::request(request, path);
        } catch (...) {
            return std::current_exception();
        }
    });
}

}  // namespace

QCoro::Task<NativeReply> ControlChannel::request(NativeRequest request) {
    QFuture<Outcome> exchange = startExchange(&worker_, std::move(request), socketPath_);
    const Outcome outcome = co_await exchange;
    if (const auto* error = std::get_if<std::exception_ptr>(&outcome)) std::rethrow_exception(*error);
    co_return std::get<NativeReply>(outcome);
}

}  // namespace orlune
