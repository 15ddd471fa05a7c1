// A stand-in for the app in the service's black-box tests: it talks the control protocol,
// and can also misbehave (raw frames, silence, being traced).
//
//   test_client request OPERATION [PROFILE_FILE HOST]   one request, the reply printed
//   test_client hold OPERATION [PROFILE_FILE HOST]      the same, then waits to be killed
//   test_client raw HEX [BODY]                          HEX bytes then BODY as they are
//   test_client silent SECONDS                          connects and sends nothing
//   test_client traced OPERATION                        the request from a traced child
//   test_client trickle MILLISECONDS                    a status request, one byte per pause
//   test_client flood CONNECTIONS SECONDS               that many status requests looping at once
//   test_client latency COUNT                           COUNT status requests; prints p50, p99, max
//   test_client inherit OPERATION                       writes the request, then execs itself to read
//                                                       the reply on the inherited connection
// With ORLUNE_TEST_LOAD=PATH in the environment it first loads the library PATH.
//
// The reply is printed one field a line ("state=connected"); exit status 0 when a reply came,
// 2 when none did.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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
              << "\ninterface=" << reply.interface.value_or("")
              << "\nownerPID=" << (reply.ownerPID ? std::to_string(*reply.ownerPID) : "")
              << "\nengineVersion=" << reply.engineVersion << "\npid=" << ::getpid() << std::endl;
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

int trickle(int pauseMilliseconds) {
    try {
        UniqueFd fd(NativeWire::connectSocket(socketPath()));
        const std::string body = R"({"operation":"status"})";
        std::string bytes{0, 0, 0, static_cast<char>(body.size())};
        bytes += body;
        try {
            for (char byte : bytes) {
                NativeWire::writeAll(fd.get(), std::string_view(&byte, 1));
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseMilliseconds));
            }
        } catch (const std::exception&) {
            // Cut off before the end: the service's answer says why.
        }
        print(NativeWire::receive<NativeReply>(fd.get()));
        return 0;
    } catch (const std::exception& error) {
        std::cout << "error=" << error.what() << std::endl;
        return 2;
    }
}

int flood(int connections, int seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::vector<pid_t> children;
    for (int i = 0; i < connections; ++i) {
        const pid_t child = ::fork();
        if (child == 0) {
            while (std::chrono::steady_clock::now() < end) {
                try {
                    (void)NativeWire::request(NativeRequest{"status", std::nullopt, std::nullopt}, socketPath());
                } catch (...) {
                }
            }
            ::_exit(0);
        }
        if (child > 0) children.push_back(child);
    }
    for (pid_t child : children) ::waitpid(child, nullptr, 0);
    return 0;
}

int latency(int count) {
    std::vector<double> milliseconds;
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        const auto started = std::chrono::steady_clock::now();
        try {
            if (NativeWire::request(NativeRequest{"status", std::nullopt, std::nullopt}, socketPath()).state ==
                "failed") {
                ++failed;
            }
        } catch (...) {
            ++failed;
        }
        milliseconds.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
    }
    std::sort(milliseconds.begin(), milliseconds.end());
    const auto at = [&](double share) { return milliseconds[static_cast<std::size_t>(share * (count - 1))]; };
    std::cout << "p50=" << at(0.5) << "\np99=" << at(0.99) << "\nmax=" << milliseconds.back() << "\nfailed=" << failed
              << std::endl;
    return 0;
}

// The trick of a same-user program: connect and ask, then become the app before the service
// looks, keeping the connection across exec.
int inherit(char** argv, const NativeRequest& request) {
    try {
        const int fd = NativeWire::connectSocket(socketPath());
        (void)::fcntl(fd, F_SETFD, 0);
        NativeWire::send(fd, request);
        const std::string number = std::to_string(fd);
        char* again[] = {argv[0], const_cast<char*>("read-inherited"), const_cast<char*>(number.c_str()), nullptr};
        ::execv("/proc/self/exe", again);
        std::cout << "error=exec failed" << std::endl;
    } catch (const std::exception& error) {
        std::cout << "error=" << error.what() << std::endl;
    }
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (const char* library = std::getenv("ORLUNE_TEST_LOAD")) {
        if (!::dlopen(library, RTLD_NOW)) {
            std::cout << "error=could not load " << library << std::endl;
            return 3;
        }
    }
    const std::string command = argc >= 2 ? argv[1] : "";
    if (command == "inherit" && argc >= 3) return inherit(argv, makeRequest(argc, argv));
    if (command == "read-inherited" && argc >= 3) {
        try {
            print(NativeWire::receive<NativeReply>(std::atoi(argv[2])));
            return 0;
        } catch (const std::exception& error) {
            std::cout << "error=" << error.what() << std::endl;
            return 2;
        }
    }
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
    if (command == "trickle" && argc >= 3) return trickle(std::atoi(argv[2]));
    if (command == "flood" && argc >= 4) return flood(std::atoi(argv[2]), std::atoi(argv[3]));
    if (command == "latency" && argc >= 3) return latency(std::max(1, std::atoi(argv[2])));
    std::cerr << "usage: test_client request|hold|traced OPERATION [PROFILE HOST] | raw HEX [BODY] | silent SECONDS\n";
    return 64;
}
