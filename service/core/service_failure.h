#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace orlune {

// The service's error type, thrown by every module of the service: one user-facing sentence,
// which the request handler sends back in a failure reply, and the detail behind it (a path, a
// system error, a tool's name), which only the service's own log sees. Low-level errors
// (std::system_error and the like) are turned into one of these where a module hands a result
// on, so no path or errno text ever reaches a client.
class ServiceFailure : public std::runtime_error {
public:
    // A refusal that needs no detail: the sentence says everything.
    static ServiceFailure rejected(std::string sentence) { return ServiceFailure(std::move(sentence), {}); }
    // A failure whose cause is for the log only.
    static ServiceFailure failed(std::string sentence, std::string detail) {
        return ServiceFailure(std::move(sentence), std::move(detail));
    }
    // A failed system call: `context` ("Could not write /var/lib/…") and the system's text for
    // `error` become the detail.
    static ServiceFailure system(std::string sentence, int error, std::string_view context);

    // The sentence for the user.
    const std::string& errorDescription() const { return sentence_; }
    // What the log records besides the sentence; empty when there is nothing more.
    const std::string& detail() const { return detail_; }

protected:
    ServiceFailure(std::string sentence, std::string detail);

private:
    std::string sentence_;
    std::string detail_;
};

// The sentence of every failed system tool, whatever the tool.
inline constexpr const char* kNetworkCommandFailed = "A network configuration command failed.";
// The sentence of a state file (engine configuration, pid file, DNS record) that could not be
// written, read or removed.
inline constexpr const char* kStateFileFailed = "The VPN service could not update its state files.";
// What a client is told about an error that has no sentence of its own; the log has the rest.
inline constexpr const char* kServiceInternalFailure =
    "The VPN service could not complete the request. Its system log has the details.";

// What a client is told about a request that arrived whole but does not decode.
inline constexpr const char* kMalformedRequest = "The VPN service received a request it could not read.";

// The user-facing sentence for any error leaving a module: the sentence of a ServiceFailure, the
// fixed text of a control-socket failure, and otherwise a fixed sentence. Whatever the sentence
// leaves out (a detail, an unexpected error's text) goes to the service's log, under `context`.
std::string userSentence(const std::exception& error, std::string_view context);

// One line in the service's log (standard error, which the system journal keeps).
void logFailure(std::string_view context, std::string_view text);

}  // namespace orlune
