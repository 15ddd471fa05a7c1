// A stand-in for the app in the service's black-box tests: it talks the control protocol,
// and can also misbehave (raw frames, silence, being traced).
//
//   test_client request OPERATION [PROFILE_FILE HOST]   one request, the reply printed
//   test_client hold OPERATION [PROFILE_FILE HOST]      the same, then waits to be killed
//   test_client raw HEX [BODY]                          HEX bytes then BODY as they are
//   test_client silent SECONDS                          connects and sends nothing
//   test_client traced OPERATION                        the request from a traced child
//
// The reply is printed one field a line ("state=connected"); exit status 0 when a reply came,
// 2 when none did.
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "control/native_wire.h"
#include "control/unique_fd.h"

namespace {

using namespace orlune;

const char* socketPath() {
    const char* path = std::getenv("ORLUNE_TEST_SOCKET");
    return path ? path : NativePaths::socket.data();
}

void print(const NativeReply& reply) {
    std::cout << "ok=" << (reply.ok ? "true" : "false") << "\nstate=" << reply.state << "\nmessage=" << reply.message
              << "\ninterface=" << reply.interface.value_or("") << "\nownerPID="
              << (reply.ownerPID ? std::to_string(*reply.ownerPID) : "") << "\nengineVersion=" << reply.engineVersion
              << "\npid=" << ::getpid() << std::endl;
}

NativeRequest makeRequest(int argc, char** argv) {
    NativeRequest request{argv[2], std::nullopt, std::nullopt};
    if (argc >= 5) {
        std::ifstream file(argv[3], std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        request.profile = text.str();
        request.expectedHost = argv[4];
    }
    return request;
}

int exchange(const NativeRequest& request) {
    try {
        print(NativeWire::request(request, socketPath()));
        return 0;
    } catch (const std::exception& error) {
        std::cout << "error=" << error.what() << std::endl;
        return 2;
    }
}

int raw(const std::string& hex, const std::string& body) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    bytes += body;
    try {
        UniqueFd fd(NativeWire::connectSocket(socketPath()));
        NativeWire::writeAll(fd.get(), bytes);
        print(NativeWire::receive<NativeReply>(fd.get()));
        return 0;
    } catch (const std::exception& error) {
        std::cout << "error=" << error.what() << std::endl;
        return 2;
    }
}

int traced(const NativeRequest& request) {
    pid_t child = ::fork();
    if (child == 0) {
        if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
            // Without a tracer the request would not test what it should.
            std::cout << "error=this system does not allow the client to be traced" << std::endl;
            ::_exit(3);
        }
        ::raise(SIGSTOP);
        ::_exit(exchange(request));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::ptrace(PTRACE_CONT, child, nullptr, nullptr);
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc >= 2 ? argv[1] : "";
    if ((command == "request" || command == "hold" || command == "traced") && argc >= 3) {
        const NativeRequest request = makeRequest(argc, argv);
        if (command == "traced") return traced(request);
        int result = exchange(request);
        if (command == "hold") {
            for (;;) ::pause();
        }
        return result;
    }
    if (command == "raw" && argc >= 3) return raw(argv[2], argc >= 4 ? argv[3] : "");
    if (command == "silent" && argc >= 3) {
        UniqueFd fd(NativeWire::connectSocket(socketPath()));
        ::sleep(static_cast<unsigned>(std::atoi(argv[2])));
        return 0;
    }
    std::cerr << "usage: test_client request|hold|traced OPERATION [PROFILE HOST] | raw HEX [BODY] | silent SECONDS\n";
    return 64;
}
