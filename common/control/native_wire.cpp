#include "control/native_wire.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "control/unique_fd.h"

namespace orlune::NativeWire {

sockaddr_un address(std::string_view path) {
    sockaddr_un result{};
    result.sun_family = AF_UNIX;
    if (path.size() + 1 > sizeof(result.sun_path) || path.find('\0') != std::string_view::npos) {
        throw WireFailure::invalid();
    }
    std::memcpy(result.sun_path, path.data(), path.size());
    return result;
}

void configure(int fd, int timeoutSeconds) {
    timeval timeout{};
    timeout.tv_sec = timeoutSeconds;
    timeout.tv_usec = 0;
    // Linux has no SO_NOSIGPIPE; writeAll sends with MSG_NOSIGNAL instead.
    (void)::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    (void)::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

int connectSocket(std::string_view path) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) throw WireFailure::unavailable();
    configure(fd.get());
    const sockaddr_un target = address(path);
    int result;
    do {
        result = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&target), sizeof target);
    } while (result != 0 && errno == EINTR);
    if (result != 0) throw WireFailure::unavailable();
    return fd.release();
}

std::string readExact(int fd, std::size_t count) {
    if (count > limit) throw WireFailure::invalid();
    std::string data(count, '\0');
    std::size_t received = 0;
    while (received < count) {
        ssize_t n = ::recv(fd, data.data() + received, count - received, 0);
        if (n > 0) {
            received += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            throw WireFailure::invalid();
        }
    }
    return data;
}

void writeAll(int fd, std::string_view data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            throw WireFailure::invalid();
        }
    }
}

void sendBody(int fd, std::string_view body) {
    if (body.size() > limit) throw WireFailure::invalid();
    const auto size = static_cast<std::uint32_t>(body.size());
    std::string frame;
    frame.reserve(4 + body.size());
    frame.push_back(static_cast<char>((size >> 24) & 0xff));
    frame.push_back(static_cast<char>((size >> 16) & 0xff));
    frame.push_back(static_cast<char>((size >> 8) & 0xff));
    frame.push_back(static_cast<char>(size & 0xff));
    frame.append(body);
    writeAll(fd, frame);
}

std::string receiveBody(int fd) {
    const std::string prefix = readExact(fd, 4);
    std::uint32_t size = 0;
    for (unsigned char byte : prefix) size = (size << 8) | byte;
    if (size == 0 || size > limit) throw WireFailure::invalid();
    return readExact(fd, size);
}

NativeReply exchange(int fd, const NativeRequest& request) {
    try {
        send(fd, request);
    } catch (const WireFailure&) {
        // A service that refuses a client answers and closes at once, maybe before the request
        // was written; its answer is still there to read.
    }
    return receive<NativeReply>(fd);
}

NativeReply request(const NativeRequest& request, std::string_view socketPath) {
    UniqueFd fd(connectSocket(socketPath));
    return exchange(fd.get(), request);
}

}  // namespace orlune::NativeWire
