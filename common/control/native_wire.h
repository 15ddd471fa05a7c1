#pragma once

#include <sys/un.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "control/native_messages.h"
#include "control/native_paths.h"
#include "control/wire_failure.h"

namespace orlune::NativeWire {

// The largest JSON body of one frame, in either direction. A frame is a 4-byte big-endian
// body length followed by the body.
inline constexpr std::size_t limit = 262'144;

// The receive and send time-out of a client connection, in seconds.
inline constexpr int kClientTimeoutSeconds = 12;

// A Unix-domain address for `path`. Throws WireFailure::invalid when the path and its NUL do not
// fit the address's path field, or when the path holds a NUL byte (it would name another file).
sockaddr_un address(std::string_view path);

// Receive and send time-outs of `timeoutSeconds` on `fd`; failures are ignored.
void configure(int fd, int timeoutSeconds = kClientTimeoutSeconds);

// Connects a new stream socket to `path` with the client options. Returns the descriptor, owned
// by the caller. A path that does not fit throws WireFailure::invalid; a socket that cannot be
// created or connected throws WireFailure::unavailable. No descriptor is left open on failure.
int connectSocket(std::string_view path);

// Reads exactly `count` bytes (0...limit, else invalid). Interrupted calls are retried; a closed
// peer, a time-out or any other error throws WireFailure::invalid.
std::string readExact(int fd, std::size_t count);

// Sends every byte of `data`, retrying interrupted calls; any error throws WireFailure::invalid.
// A vanished peer gives an error, never SIGPIPE.
void writeAll(int fd, std::string_view data);

// Frames an already encoded body; a body over `limit` throws invalid without writing anything.
void sendBody(int fd, std::string_view body);
// Reads one frame and returns its body. A length of 0 or over `limit` throws invalid before any
// body byte is read.
std::string receiveBody(int fd);

// Encodes `value` and writes it as one frame. Encoding errors propagate unchanged.
template <class Message>
void send(int fd, const Message& value) {
    sendBody(fd, encodeMessage(value));
}

// Reads one frame and decodes it as `Message`. Decoding errors propagate unchanged.
template <class Message>
Message receive(int fd) {
    return decodeMessage<Message>(receiveBody(fd));
}

// One exchange on a connected `fd`: the request, then the one reply, which is read even when the
// request could not be written whole (a refusal sent before it was read). Throws as receive does.
NativeReply exchange(int fd, const NativeRequest& request);

// One exchange with the service: connect, send, receive, close. Every call is a new connection;
// the descriptor is closed on every path.
NativeReply request(const NativeRequest& request, std::string_view socketPath = NativePaths::socket);

}  // namespace orlune::NativeWire
