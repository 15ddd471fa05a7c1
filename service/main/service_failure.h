#pragma once

#include <stdexcept>
#include <string>

namespace orlune {

// The service's error type: a refusal carrying one user-facing sentence, which the request
// handler sends back in a failure reply.
class ServiceFailure : public std::runtime_error {
public:
    static ServiceFailure rejected(std::string message) { return ServiceFailure(std::move(message)); }

    std::string errorDescription() const { return what(); }

private:
    explicit ServiceFailure(std::string message) : std::runtime_error(std::move(message)) {}
};

// The sentence of every failed system tool, whatever the tool.
inline constexpr const char* kNetworkCommandFailed = "A network configuration command failed.";

}  // namespace orlune
