#include "core/service_failure.h"

#include <cstdio>
#include <cstring>

#include "control/wire_failure.h"

namespace orlune {
namespace {

std::string logText(const std::string& sentence, const std::string& detail) {
    return detail.empty() ? sentence : sentence + " (" + detail + ")";
}

}  // namespace

ServiceFailure::ServiceFailure(std::string sentence, std::string detail)
    : std::runtime_error(logText(sentence, detail)), sentence_(std::move(sentence)), detail_(std::move(detail)) {}

ServiceFailure ServiceFailure::system(std::string sentence, int error, std::string_view context) {
    return ServiceFailure(std::move(sentence), std::string(context) + ": " + std::strerror(error));
}

std::string userSentence(const std::exception& error, std::string_view context) {
    if (const auto* failure = dynamic_cast<const ServiceFailure*>(&error)) {
        if (!failure->detail().empty()) logFailure(context, failure->what());
        return failure->errorDescription();
    }
    if (dynamic_cast<const WireFailure*>(&error)) return error.what();
    logFailure(context, error.what());
    if (dynamic_cast<const MessageDecodingError*>(&error)) return kMalformedRequest;
    return kServiceInternalFailure;
}

void logFailure(std::string_view context, std::string_view text) {
    std::fprintf(stderr, "Orlune VPN service: %.*s: %.*s\n", static_cast<int>(context.size()), context.data(),
                 static_cast<int>(text.size()), text.data());
}

}  // namespace orlune
