#pragma once

#include <QString>

#include "network/endpoints.h"

namespace orlune::test {

class TestHttpsServer;

// Every endpoint on 127.0.0.1 port 1, where nothing listens.
Endpoints closedLocalEndpoints();

// For a test program's main, before any test: no proxy, every endpoint closed and local, and a
// request to anything but a loopback address ends the run, so a test that forgets to set its own
// servers fails instead of reaching a public service.
void keepRequestsLocal();

// Every endpoint on `server`, one path each: /generate_204, /cdn-cgi/trace, /echo1/, /echo2/,
// /ip, /api/iphone/ and /info/ (exit country), with the server's certificate trusted.
Endpoints endpointsOn(const TestHttpsServer& server);

// Installs `endpoints` for the lifetime of the object and restores the closed ones after.
class ScopedEndpoints {
public:
    explicit ScopedEndpoints(Endpoints endpoints) { Endpoints::setCurrent(std::move(endpoints)); }
    ~ScopedEndpoints() { Endpoints::setCurrent(closedLocalEndpoints()); }
    ScopedEndpoints(const ScopedEndpoints&) = delete;
    ScopedEndpoints& operator=(const ScopedEndpoints&) = delete;
};

// Shortens every request time-out for the lifetime of the object.
class ScopedTimeouts {
public:
    explicit ScopedTimeouts(NetworkTimeouts timeouts) : saved_(NetworkTimeouts::current()) {
        NetworkTimeouts::setCurrent(timeouts);
    }
    ~ScopedTimeouts() { NetworkTimeouts::setCurrent(saved_); }
    ScopedTimeouts(const ScopedTimeouts&) = delete;
    ScopedTimeouts& operator=(const ScopedTimeouts&) = delete;

private:
    NetworkTimeouts saved_;
};

}  // namespace orlune::test
