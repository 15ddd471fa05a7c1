#include "fake_control_service.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "control/native_wire.h"

namespace orlune::test {

FakeControlService::FakeControlService(std::string socketPath, Handler handler)
    : path_(std::move(socketPath)), handler_(std::move(handler)) {
    listener_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_un address = NativeWire::address(path_);
    if (!listener_ || ::bind(listener_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_.get(), 8) != 0) {
        throw std::runtime_error("fake service cannot listen on " + path_);
    }
    thread_ = std::thread([this] { serve(); });
}

FakeControlService::~FakeControlService() {
    stop_ = true;
    thread_.join();
    ::unlink(path_.c_str());
}

void FakeControlService::serve() {
    while (!stop_) {
        pollfd entry{listener_.get(), POLLIN, 0};
        if (::poll(&entry, 1, 20) <= 0) continue;
        UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!client) continue;
        try {
            NativeWire::configure(client.get(), 2);
            const auto request = NativeWire::receive<NativeRequest>(client.get());
            NativeReply answer;
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
                answer = handler_(request);
            }
            NativeWire::send(client.get(), answer);
        } catch (const std::exception&) {
            // A client that gave up is the client's business.
        }
    }
}

std::vector<NativeRequest> FakeControlService::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::string> FakeControlService::operations() const {
    std::vector<std::string> names;
    for (const NativeRequest& request : requests()) names.push_back(request.operation);
    return names;
}

NativeReply reply(bool ok, std::string_view state, std::string message, std::optional<std::string> interface) {
    NativeReply answer;
    answer.ok = ok;
    answer.state = std::string(state);
    answer.message = std::move(message);
    answer.interface = std::move(interface);
    return answer;
}

}  // namespace orlune::test
