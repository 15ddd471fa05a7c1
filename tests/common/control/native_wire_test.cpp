#include "control/native_wire.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "control/unique_fd.h"

namespace orlune {
namespace {

namespace fs = std::filesystem;

struct SocketPair {
    UniqueFd reader;
    UniqueFd writer;
    SocketPair() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
        reader.reset(fds[0]);
        writer.reset(fds[1]);
        // Room for the largest frame, so a test can write a whole frame before reading it.
        int size = 1 << 20;
        ::setsockopt(writer.get(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        ::setsockopt(reader.get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        NativeWire::configure(reader.get(), 2);
    }
    void write(std::string_view bytes) { NativeWire::writeAll(writer.get(), bytes); }
    void closeWriter() { writer.reset(); }
    // Bytes still waiting to be read on the reader's side.
    std::string rest() {
        closeWriter();
        std::string data;
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(reader.get(), buffer, sizeof buffer, 0)) > 0) data.append(buffer, static_cast<size_t>(n));
        return data;
    }
};

std::string prefix(std::uint32_t n) {
    return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
}

// A JSON request whose encoded length is exactly `size` bytes.
NativeRequest requestOfSize(std::size_t size) {
    const std::size_t overhead = encodeMessage(NativeRequest{"connect", std::string(), {}}).size();
    return NativeRequest{"connect", std::string(size - overhead, 'a'), {}};
}

TEST(NativeWireFraming, BodyLengthIsABigEndianPrefix) {
    SocketPair pair;
    const auto request = requestOfSize(300);
    NativeWire::send(pair.writer.get(), request);
    const std::string frame = pair.rest();
    ASSERT_EQ(frame.size(), 304u);
    EXPECT_EQ(frame.substr(0, 4), std::string("\x00\x00\x01\x2c", 4));
    EXPECT_EQ(frame.substr(4), encodeMessage(request));
}

TEST(NativeWireFraming, ZeroAndOversizeLengthsFailBeforeAnyBodyByteIsRead) {
    for (std::uint32_t length : {0u, 262'145u, 0xffffffffu}) {
        SocketPair pair;
        pair.write(prefix(length) + "{\"operation\":\"status\"}");
        try {
            NativeWire::receive<NativeRequest>(pair.reader.get());
            ADD_FAILURE() << length << " was accepted";
        } catch (const WireFailure& failure) {
            EXPECT_EQ(failure.kind(), WireFailure::Kind::invalid);
        }
        EXPECT_EQ(pair.rest(), "{\"operation\":\"status\"}") << length;
    }
}

TEST(NativeWireFraming, LargestFrameIsAcceptedBothWays) {
    SocketPair pair;
    const auto request = requestOfSize(NativeWire::limit);
    NativeWire::send(pair.writer.get(), request);
    EXPECT_EQ(NativeWire::receive<NativeRequest>(pair.reader.get()), request);
}

TEST(NativeWireFraming, SendingOneByteOverTheLimitWritesNothing) {
    SocketPair pair;
    try {
        NativeWire::send(pair.writer.get(), requestOfSize(NativeWire::limit + 1));
        ADD_FAILURE() << "oversize body was sent";
    } catch (const WireFailure& failure) {
        EXPECT_EQ(failure.kind(), WireFailure::Kind::invalid);
    }
    EXPECT_EQ(pair.rest(), "");
}

TEST(NativeWireFraming, PeerClosingMidFrameIsInvalid) {
    const std::string body = R"({"operation":"status"})";
    const std::string truncated[] = {"", prefix(static_cast<std::uint32_t>(body.size())).substr(0, 2),
                                     prefix(static_cast<std::uint32_t>(body.size())) + body.substr(0, 5)};
    for (const auto& bytes : truncated) {
        SocketPair pair;
        pair.write(bytes);
        pair.closeWriter();
        try {
            NativeWire::receive<NativeRequest>(pair.reader.get());
            ADD_FAILURE() << "truncated frame of " << bytes.size() << " bytes was accepted";
        } catch (const WireFailure& failure) {
            EXPECT_EQ(failure.kind(), WireFailure::Kind::invalid);
        }
    }
}

TEST(NativeWireFraming, SilentPeerTimesOutAsInvalid) {
    SocketPair pair;
    NativeWire::configure(pair.reader.get(), 1);
    // The prefix promises ten bytes that never come, and the peer stays connected.
    pair.write(prefix(10));
    EXPECT_THROW(NativeWire::receive<NativeRequest>(pair.reader.get()), WireFailure);
}

TEST(NativeWireFraming, ReadExactBounds) {
    SocketPair pair;
    EXPECT_EQ(NativeWire::readExact(pair.reader.get(), 0), "");
    EXPECT_THROW(NativeWire::readExact(pair.reader.get(), NativeWire::limit + 1), WireFailure);
}

TEST(NativeWireFraming, WellFramedGarbageIsADecodingError) {
    SocketPair pair;
    pair.write(prefix(3) + "abc");
    EXPECT_THROW(NativeWire::receive<NativeReply>(pair.reader.get()), MessageDecodingError);
}

TEST(NativeWireFraming, WritingToAClosedPeerFailsWithoutSignal) {
    SocketPair pair;
    pair.reader.reset();
    // SIGPIPE would end the test process; MSG_NOSIGNAL turns it into an error.
    EXPECT_THROW(NativeWire::send(pair.writer.get(), NativeRequest{"status", {}, {}}), WireFailure);
}

std::atomic<int> interruptions{0};
void countInterruption(int) {
    interruptions.fetch_add(1);
}

// Waits until thread `tid` sleeps in recv with nothing queued on `fd`, so that a signal sent now
// interrupts the wait itself rather than a read that is about to return.
void waitUntilWaitingIn(pid_t tid, int fd) {
    const std::string path = "/proc/self/task/" + std::to_string(tid) + "/syscall";
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < giveUp) {
        long number = -1;
        std::ifstream(path) >> number;  // "running" when it is not in a system call
        int queued = -1;
        if (number == SYS_recvfrom && ::ioctl(fd, FIONREAD, &queued) == 0 && queued == 0) return;
        std::this_thread::yield();
    }
    ADD_FAILURE() << "the reader never waited in recv";
}

TEST(NativeWireFraming, ReceiveInterruptedBySignalsReturnsTheWholeFrame) {
    // A handler without SA_RESTART makes a blocked recv return EINTR.
    struct sigaction action {};
    action.sa_handler = countInterruption;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);

    SocketPair pair;
    const auto request = requestOfSize(5'000);
    const std::string body = encodeMessage(request);
    const std::string frame = prefix(static_cast<std::uint32_t>(body.size())) + body;
    const pthread_t readerThread = ::pthread_self();
    const pid_t readerTid = ::gettid();
    interruptions = 0;

    std::thread peer([&] {
        // Interrupt the reader while it waits inside the prefix, and again inside the body.
        const std::size_t cuts[] = {2, 2'000};
        std::size_t sent = 0;
        for (std::size_t cut : cuts) {
            NativeWire::writeAll(pair.writer.get(), std::string_view(frame).substr(sent, cut - sent));
            sent = cut;
            waitUntilWaitingIn(readerTid, pair.reader.get());
            ::pthread_kill(readerThread, SIGUSR1);
        }
        NativeWire::writeAll(pair.writer.get(), std::string_view(frame).substr(sent));
    });
    NativeRequest received;
    EXPECT_NO_THROW(received = NativeWire::receive<NativeRequest>(pair.reader.get()));
    peer.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(received, request);
    EXPECT_EQ(interruptions.load(), 2);
}

TEST(NativeWireAddress, PathMustFitTheAddressWithItsNul) {
    const std::string fits(107, 'a');
    const sockaddr_un address = NativeWire::address(fits);
    EXPECT_EQ(address.sun_family, AF_UNIX);
    EXPECT_EQ(std::string(address.sun_path), fits);
    EXPECT_THROW(NativeWire::address(std::string(108, 'a')), WireFailure);
    EXPECT_THROW(NativeWire::address(std::string("/tmp/a\0b", 8)), WireFailure);
}

class TemporaryDirectory {
public:
    TemporaryDirectory() {
        std::string pattern = (fs::temp_directory_path() / "orlune-wire-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        path_ = pattern;
    }
    ~TemporaryDirectory() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

int openDescriptorCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

TEST(NativeWireClient, NoListenerIsUnavailable) {
    TemporaryDirectory directory;
    const int before = openDescriptorCount();
    try {
        NativeWire::request(NativeRequest{"status", {}, {}}, (directory.path() / "control.sock").string());
        ADD_FAILURE() << "request succeeded without a service";
    } catch (const WireFailure& failure) {
        EXPECT_EQ(failure.kind(), WireFailure::Kind::unavailable);
    }
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST(NativeWireClient, OverlongSocketPathIsInvalidAndLeaksNothing) {
    const int before = openDescriptorCount();
    try {
        NativeWire::connectSocket("/tmp/" + std::string(200, 'x'));
        ADD_FAILURE() << "connected to an impossible path";
    } catch (const WireFailure& failure) {
        EXPECT_EQ(failure.kind(), WireFailure::Kind::invalid);
    }
    EXPECT_EQ(openDescriptorCount(), before);
}

// A one-shot server on a real listening socket, the way the service serves a connection.
class OneShotServer {
public:
    explicit OneShotServer(const fs::path& path) {
        listener_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const sockaddr_un address = NativeWire::address(path.string());
        if (::bind(listener_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_.get(), 8) != 0) {
            std::abort();
        }
    }
    template <class Handler>
    std::thread serveOnce(Handler handler) {
        return std::thread([this, handler] {
            UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            NativeWire::configure(client.get(), 2);
            handler(client.get());
        });
    }

private:
    UniqueFd listener_;
};

TEST(NativeWireClient, RequestRoundTripOverAListeningSocket) {
    TemporaryDirectory directory;
    const fs::path path = directory.path() / "control.sock";
    OneShotServer server(path);
    NativeRequest seen;
    auto thread = server.serveOnce([&](int fd) {
        seen = NativeWire::receive<NativeRequest>(fd);
        NativeReply reply;
        reply.ok = true;
        reply.state = "connected";
        reply.interface = "tun0";
        reply.ownerPID = 77;
        NativeWire::send(fd, reply);
    });
    const int before = openDescriptorCount();
    const NativeReply reply = NativeWire::request(NativeRequest{"status", {}, {}}, path.string());
    thread.join();  // the server's end of the connection closes when its thread ends
    EXPECT_EQ(openDescriptorCount(), before);
    EXPECT_EQ(seen.operation, "status");
    EXPECT_EQ(reply.state, "connected");
    EXPECT_EQ(reply.interface, "tun0");
    EXPECT_EQ(reply.ownerPID, 77);
}

TEST(NativeWireClient, ServerThatHangsUpGivesInvalidAndClosesTheDescriptor) {
    TemporaryDirectory directory;
    const fs::path path = directory.path() / "control.sock";
    OneShotServer server(path);
    auto thread = server.serveOnce([](int fd) {
        NativeWire::receive<NativeRequest>(fd);
        NativeWire::writeAll(fd, prefix(40) + "{\"ok\":");
    });
    const int before = openDescriptorCount();
    try {
        NativeWire::request(NativeRequest{"status", {}, {}}, path.string());
        ADD_FAILURE() << "truncated reply accepted";
    } catch (const WireFailure& failure) {
        EXPECT_EQ(failure.kind(), WireFailure::Kind::invalid);
    }
    thread.join();
    EXPECT_EQ(openDescriptorCount(), before);
}

}  // namespace
}  // namespace orlune
