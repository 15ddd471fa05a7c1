#include "core/tool_runner.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "control/unique_fd.h"
#include "core/service_failure.h"
#include "support/fd_count.h"

namespace orlune {
namespace {

using namespace std::chrono_literals;
using testing::openDescriptors;

// Short limits keep the kill path fast; the real 4-second limit is checked once, by the DNS
// tests' hanging tool.
// Short limits for the tests of the limit itself; the others get room for a loaded machine.
constexpr ToolTimings kQuick{.timeLimit = 300ms, .pollInterval = 25ms, .killPause = 100ms};
constexpr ToolTimings kRoomy{.timeLimit = 10'000ms, .pollInterval = 25ms, .killPause = 100ms};

std::vector<std::string> shell(const std::string& script) {
    return {"-c", script};
}

std::string runShell(const std::string& script, std::optional<std::string> input = std::nullopt,
                     ToolTimings timings = kRoomy) {
    SystemToolRunner runner(timings);
    return runner.run("/bin/sh", shell(script), input);
}

bool failsAsNetworkCommand(const std::string& script, std::optional<std::string> input = std::nullopt,
                           ToolTimings timings = kRoomy) {
    try {
        runShell(script, std::move(input), timings);
    } catch (const ServiceFailure& failure) {
        return failure.errorDescription() == kNetworkCommandFailed;
    }
    return false;
}

TEST(ToolRunnerResult, OutputStatusAndEncodingDecideTheAnswer) {
    struct Case {
        const char* name;
        const char* script;
        std::optional<std::string> input;
        std::optional<std::string> expected;  // none: the call fails with the tool sentence
    };
    const std::vector<Case> cases{
        {"standard output is returned", "printf 'a\\nb\\n'", {}, "a\nb\n"},
        {"standard error is lost", "echo out; echo err >&2", {}, "out\n"},
        {"exit 1 after output fails", "echo partial; exit 1", {}, std::nullopt},
        {"death by signal fails", "kill -KILL $$", {}, std::nullopt},
        {"not UTF-8 gives empty text", "printf 'ok\\377\\n'", {}, ""},
        {"multi-byte UTF-8 is kept", "printf '\\303\\251t\\303\\251'", {}, "\xC3\xA9t\xC3\xA9"},
        {"input reaches the tool", "cat", "show State:/Network/Global/IPv4\nquit\n",
         "show State:/Network/Global/IPv4\nquit\n"},
        {"no input still closes standard input", "cat; echo done", {}, "done\n"},
        {"empty input closes standard input", "cat; echo done", "", "done\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.expected) {
            EXPECT_EQ(runShell(c.script, c.input), *c.expected);
        } else {
            EXPECT_TRUE(failsAsNetworkCommand(c.script, c.input));
        }
    }
}

TEST(ToolRunnerResult, OutputLargerThanAPipeBufferDoesNotStallTheTool) {
    // Both streams far beyond the pipe buffer: a runner that only reads after the exit would
    // block the tool until the time limit and report a failure.
    EXPECT_EQ(runShell("head -c 300000 /dev/zero | tr '\\0' x; head -c 300000 /dev/zero >&2").size(), 300000u);
}

TEST(ToolRunnerEnvironment, ToolSeesOnlyTheFixedVariables) {
    ::setenv("ORLUNE_SHOULD_NOT_LEAK", "1", 1);
    SystemToolRunner runner(kRoomy);
    const std::string output = runner.run("/usr/bin/env", {});
    ::unsetenv("ORLUNE_SHOULD_NOT_LEAK");
    EXPECT_EQ(output, "PATH=/usr/bin:/bin:/usr/sbin:/sbin\nLANG=C\nHOME=/root\n");
}

TEST(ToolRunnerLaunch, MissingExecutableFailsWithThePlatformErrorInTheDetail) {
    SystemToolRunner runner(kQuick);
    try {
        runner.run("/nonexistent/orlune-tool", {});
        FAIL() << "a missing tool was started";
    } catch (const ServiceFailure& failure) {
        EXPECT_EQ(failure.errorDescription(), kNetworkCommandFailed);
        EXPECT_NE(failure.detail().find("No such file"), std::string::npos) << failure.detail();
    }
}

TEST(ToolRunnerTimeLimit, OverrunningToolsAreTerminatedThenKilled) {
    // Ends on SIGTERM with status 0: that is a success, as the status says.
    EXPECT_EQ(runShell("trap 'echo bye; exit 0' TERM; while :; do sleep 0.01; done", std::nullopt, kQuick), "bye\n");
    // Ignores SIGTERM: killed after the pause, and the call fails.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(failsAsNetworkCommand("trap '' TERM; while :; do sleep 0.01; done", std::nullopt, kQuick));
    EXPECT_GE(std::chrono::steady_clock::now() - start, kQuick.timeLimit + kQuick.killPause);
    // Never reads a large input and never ends: the write is bounded by the limit too.
    EXPECT_TRUE(failsAsNetworkCommand("exec sleep 30", std::string(1 << 20, 'x'), kQuick));
}

TEST(ToolRunnerDescriptors, NoPathLeavesADescriptorOpen) {
    const auto before = openDescriptors();
    SystemToolRunner runner(kQuick);
    auto attempt = [&](const std::string& executable, std::vector<std::string> arguments,
                       std::optional<std::string> input = std::nullopt) {
        try {
            runner.run(executable, arguments, input);
        } catch (const std::exception&) {
        }
    };
    attempt("/bin/sh", shell("echo fine"));
    attempt("/bin/sh", shell("exit 3"));
    attempt("/nonexistent/orlune-tool", {});
    attempt("/bin/sh", shell("exec sleep 30"));
    attempt("/bin/true", {}, std::string(1 << 20, 'x'));  // its reader is gone: the write fails
    EXPECT_EQ(openDescriptors(), before);
}

TEST(ToolRunnerDescriptors, WriteToAToolThatExitedFailsWithoutKillingTheService) {
    SystemToolRunner runner(kRoomy);
    try {
        runner.run("/bin/true", {}, std::string(1 << 20, 'x'));
        FAIL() << "the input could not have been written";
    } catch (const ServiceFailure& failure) {
        EXPECT_NE(failure.detail().find("Broken pipe"), std::string::npos) << failure.detail();
    }
}

TEST(ToolRunnerDescriptors, ToolInheritsOnlyItsThreeStreams) {
    // A descriptor opened without close-on-exec, as a careless caller might leave one.
    UniqueFd stray(::fcntl(UniqueFd(::open("/dev/null", O_RDONLY)).get(), F_DUPFD, 100));
    ASSERT_TRUE(stray);
    // Only shell built-ins, so the listing is not disturbed by descriptors of its own.
    const std::string listing =
        runShell("n=0; while [ $n -le 255 ]; do [ -e /proc/$$/fd/$n ] && printf '%s ' $n; n=$((n+1)); done; echo");
    EXPECT_EQ(listing, "0 1 2 \n");
}

TEST(Utf8Validation, RejectsMalformedSequences) {
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("plain"));
    EXPECT_TRUE(isValidUtf8("\xF0\x9F\x94\x92"));             // U+1F512
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));                    // overlong slash
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));                // surrogate
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));            // past U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xE2\x82"));                    // truncated
    EXPECT_FALSE(isValidUtf8(std::string_view("a\x80", 2)));  // stray continuation
}

}  // namespace
}  // namespace orlune
