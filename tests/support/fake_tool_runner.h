#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/tool_runner.h"

namespace orlune::testing {

struct ToolCall {
    std::string executable;
    std::vector<std::string> arguments;
    std::optional<std::string> input;

    friend bool operator==(const ToolCall&, const ToolCall&) = default;
};

// Answers tool calls with recorded outputs and remembers every call, in order. The handler
// returns a tool's standard output or throws what the real runner would throw.
class FakeToolRunner : public ToolRunner {
public:
    using Handler = std::function<std::string(const ToolCall&)>;

    explicit FakeToolRunner(Handler handler = {}) : handler_(std::move(handler)) {}
    void setHandler(Handler handler) { handler_ = std::move(handler); }

    std::string run(const std::string& executable, const std::vector<std::string>& arguments,
                    const std::optional<std::string>& input) override {
        calls.push_back({executable, arguments, input});
        if (!handler_) throw std::logic_error("unexpected tool call: " + executable);
        return handler_(calls.back());
    }

    std::vector<ToolCall> calls;

private:
    Handler handler_;
};

}  // namespace orlune::testing
