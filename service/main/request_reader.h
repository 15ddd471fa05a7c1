#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orlune {

// Collects one request frame from a non-blocking connection, whatever the pieces it arrives in,
// so the loop never waits on a single client.
class RequestReader {
public:
    enum class Progress { incomplete, complete, invalid };

    // Takes the next bytes received. A length prefix of 0 or over the wire limit is invalid at
    // once, before any of the body arrives; bytes after a complete frame are ignored.
    Progress feed(std::string_view bytes);
    Progress progress() const { return progress_; }
    // The body of a complete frame.
    const std::string& body() const { return body_; }

private:
    std::string prefix_;
    std::optional<std::size_t> size_;
    std::string body_;
    Progress progress_ = Progress::incomplete;
};

}  // namespace orlune
