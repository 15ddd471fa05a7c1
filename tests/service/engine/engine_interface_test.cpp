#include "engine/engine_interface.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "core/service_failure.h"
#include "support/fake_tool_runner.h"

namespace orlune {
namespace {

using testing::FakeToolRunner;
using testing::ToolCall;

TEST(EngineVersion, FirstLineNamesTheVersion) {
    struct Case {
        std::string_view output;
        std::optional<std::string> expected;
    };
    const Case cases[]{
        {"OpenVPN 2.6.14 x86_64-pc-linux-gnu [SSL (OpenSSL)] [LZO]\nlibrary versions: OpenSSL 3.0\n", "2.6.14"},
        {"OpenVPN 2.7.8 arm64-apple-darwin [SSL (OpenSSL)]\r\n", "2.7.8"},
        {"OpenVPN 2.7_rc2 x86_64-pc-linux-gnu\n", "2.7_rc2"},
        {"", std::nullopt},
        {"OpenVPN\n", std::nullopt},
        {"OpenVPN git-master x86_64\n", std::nullopt},
        {"openvpn 2.6.14\n", std::nullopt},
        {"\nOpenVPN 2.6.14\n", std::nullopt},  // only the first line counts
        {"Options error: unknown\nOpenVPN 2.6.14\n", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseEngineVersion(c.output), c.expected) << c.output;
    }
}

TEST(EngineVersion, DnsHookOnlyFromTwoSeven) {
    for (auto version : {"2.7.0", "2.7.8", "2.7_rc2", "2.10.1", "3.0"}) EXPECT_TRUE(acceptsDnsHook(version)) << version;
    for (auto version : {"2.6.14", "2.6", "1.9.9", "", "x2.7", "27"}) EXPECT_FALSE(acceptsDnsHook(version)) << version;
}

TEST(EngineVersion, ProbeFallsBackToTheDefaultVersion) {
    FakeToolRunner runner([](const ToolCall&) -> std::string { return "OpenVPN 2.6.14 x86_64-pc-linux-gnu\n"; });
    EXPECT_EQ(probeEngineVersion(runner, "/usr/sbin/openvpn"), "2.6.14");
    EXPECT_EQ(runner.calls, (std::vector<ToolCall>{{"/usr/sbin/openvpn", {"--version"}, std::nullopt}}));

    runner.setHandler([](const ToolCall&) -> std::string { throw ServiceFailure::rejected(kNetworkCommandFailed); });
    EXPECT_EQ(probeEngineVersion(runner, "/usr/sbin/openvpn"), "2.7.8");
    runner.setHandler([](const ToolCall&) -> std::string { return "usage: something else\n"; });
    EXPECT_EQ(probeEngineVersion(runner, "/usr/sbin/openvpn"), "2.7.8");
}

TEST(EngineVersion, InstalledEngineAnswersInTheExpectedForm) {
    if (::access("/usr/sbin/openvpn", X_OK) != 0) GTEST_SKIP() << "no engine installed";
    SystemToolRunner runner;
    const std::string version = probeEngineVersion(runner, "/usr/sbin/openvpn");
    EXPECT_TRUE(version.starts_with("2.")) << version;
}

TEST(EngineCommandLine, DependsOnTheDetectedVersion) {
    EXPECT_EQ(engineCommand("/usr/sbin/openvpn", "/var/lib/orlune-vpn/state/session.ovpn", "2.6.14"),
              (EngineCommand{"/usr/sbin/openvpn", {"--config", "/var/lib/orlune-vpn/state/session.ovpn"}}));
    EXPECT_EQ(engineCommand("/usr/sbin/openvpn", "/state dir/session.ovpn", "2.7.8"),
              (EngineCommand{"/usr/sbin/openvpn",
                             {"--config", "/state dir/session.ovpn", "--script-security", "2", "--dns-updown",
                              std::string(kEngineDnsHook)}}));
}

}  // namespace
}  // namespace orlune
