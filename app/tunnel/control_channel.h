#pragma once

#include <QThreadPool>

#include <qcoro/qcorotask.h>

#include <string>

#include "control/native_messages.h"

namespace orlune {

// Carries control exchanges to the service one at a time on one worker thread, in the order
// they were issued. The caller is suspended meanwhile and resumes on its own thread.
class ControlChannel {
public:
    explicit ControlChannel(std::string socketPath);
    ~ControlChannel();
    ControlChannel(const ControlChannel&) = delete;
    ControlChannel& operator=(const ControlChannel&) = delete;

    // One exchange. Throws what the exchange throws (WireFailure, MessageDecodingError, ...)
    // unchanged.
    QCoro::Task<NativeReply> request(NativeRequest request);

    const std::string& socketPath() const { return socketPath_; }

private:
    std::string socketPath_;
    QThreadPool worker_;
};

}  // namespace orlune
