#pragma once

#include <stdexcept>
#include <string>

namespace orlune {

// A transport problem on the control socket. Both sides use it: the app when the service
// cannot be reached or answers badly, the service when a request frame is malformed.
class WireFailure : public std::exception {
public:
    enum class Kind { unavailable, invalid };

    explicit WireFailure(Kind kind) : kind_(kind) {}
    static WireFailure unavailable() { return WireFailure(Kind::unavailable); }
    static WireFailure invalid() { return WireFailure(Kind::invalid); }

    Kind kind() const noexcept { return kind_; }
    // The user-facing sentence for this failure.
    const char* what() const noexcept override;
    std::string errorDescription() const { return what(); }

    friend bool operator==(const WireFailure& a, const WireFailure& b) { return a.kind_ == b.kind_; }

private:
    Kind kind_;
};

// A control message whose JSON could not be decoded into the requested type: malformed JSON,
// a missing required key or a value of the wrong type. Deliberately not a WireFailure: the
// frame arrived intact, its content is what is wrong.
class MessageDecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A value that could not be encoded as JSON (for example text that is not valid UTF-8).
class MessageEncodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace orlune
