// Arbitrary bytes arriving on the control socket, read as a request and as a reply.
#include <fcntl.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstdlib>
#include <exception>

#include "control/native_wire.h"
#include "control/unique_fd.h"

namespace {

template <class Message>
void receiveFrom(const std::uint8_t* data, std::size_t size) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
    orlune::UniqueFd reader(fds[0]);
    orlune::UniqueFd writer(fds[1]);
    int buffer = 1 << 20;
    ::setsockopt(writer.get(), SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    // Whatever does not fit the socket buffer is dropped; the reader then sees a closed peer.
    ::fcntl(writer.get(), F_SETFL, O_NONBLOCK);
    if (size > 0) (void)::send(writer.get(), data, size, MSG_NOSIGNAL);
    writer.reset();
    orlune::NativeWire::configure(reader.get(), 1);
    try {
        const Message message = orlune::NativeWire::receive<Message>(reader.get());
        // Whatever decodes must encode again.
        (void)orlune::encodeMessage(message);
    } catch (const orlune::WireFailure&) {
    } catch (const orlune::MessageDecodingError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    receiveFrom<orlune::NativeRequest>(data, size);
    receiveFrom<orlune::NativeReply>(data, size);
    return 0;
}
