#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control/native_messages.h"
#include "control/unique_fd.h"

namespace orlune::test {

// A scripted stand-in for the root service on a temporary socket path: answers each
// request with what `handler` returns and records every request.
class FakeControlService {
public:
    using Handler = std::function<NativeReply(const NativeRequest&)>;

    FakeControlService(std::string socketPath, Handler handler);
    ~FakeControlService();
    FakeControlService(const FakeControlService&) = delete;
    FakeControlService& operator=(const FakeControlService&) = delete;

    std::vector<NativeRequest> requests() const;
    std::vector<std::string> operations() const;

private:
    void serve();

    std::string path_;
    Handler handler_;
    UniqueFd listener_;
    mutable std::mutex mutex_;
    std::vector<NativeRequest> requests_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

NativeReply reply(bool ok, std::string_view state, std::string message = {},
                  std::optional<std::string> interface = std::nullopt);

}  // namespace orlune::test
