#include "engine/process_control_linux.h"
#include "core/service_failure.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "control/unique_fd.h"

namespace orlune {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(LinuxProcessControl, ChildGetsOnlyItsEnvironmentStreamsAndDefaultSignals) {
    const std::string log = ::testing::TempDir() + "child-" + std::to_string(::getpid()) + ".log";
    UniqueFd output(::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    // A descriptor without close-on-exec must not reach the child either.
    UniqueFd stray(::open("/dev/null", O_RDONLY));
    ::signal(SIGPIPE, SIG_IGN);
    LinuxProcessControl processes;
    auto child = processes.launch({"/bin/sh",
                                   {"-c",
                                    "env; ls /proc/self/fd | tr '\\n' ' '; echo; "
                                    "grep SigIgn /proc/$$/status; read line || echo stdin-empty; echo err >&2"},
                                   {"PATH=/usr/bin:/bin", "LANG=C"},
                                   output.get()});
    child->waitForExit();
    ::signal(SIGPIPE, SIG_DFL);
    EXPECT_FALSE(child->isRunning());
    const std::string text = readFile(log);
    EXPECT_NE(text.find("PATH=/usr/bin:/bin\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("HOME="), std::string::npos) << text;
    // What a program started by the child sees: the three streams and its own listing handle
    // (3). Anything more was inherited from the service. (The shell's own table is no use here:
    // while it builds the pipeline it briefly holds the pipe's ends.)
    EXPECT_NE(text.find("\n0 1 2 3 \n"), std::string::npos) << text;
    const std::size_t ignored = text.find("SigIgn:\t");
    ASSERT_NE(ignored, std::string::npos) << text;
    EXPECT_EQ(std::stoull(text.substr(ignored + 8, 16), nullptr, 16) & (1ull << (SIGPIPE - 1)), 0u) << text;
    EXPECT_NE(text.find("stdin-empty"), std::string::npos) << text;
    EXPECT_NE(text.find("err\n"), std::string::npos) << text;
    std::filesystem::remove(log);
}

TEST(LinuxProcessControl, WaitingForTheEndWithinALimitLeavesARunningChildRunning) {
    LinuxProcessControl processes;
    UniqueFd null(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    auto child = processes.launch({"/bin/sleep", {"30"}, {}, null.get()});
    EXPECT_TRUE(child->waitForExitWithin(std::chrono::milliseconds(1)));
    EXPECT_TRUE(child->isRunning());
    child->signal(SIGTERM);
    // The limit is only a bound: the wait ends with the child, and the child is then reaped.
    EXPECT_TRUE(child->waitForExitWithin(std::chrono::seconds(20)));
    EXPECT_FALSE(child->isRunning());
    EXPECT_TRUE(child->waitForExitWithin(std::chrono::seconds(20)));
}

TEST(LinuxProcessControl, AMissingProgramIsALaunchError) {
    LinuxProcessControl processes;
    EXPECT_THROW(processes.launch({"/nonexistent/openvpn", {}, {}, 1}), ServiceFailure);
}

TEST(LinuxProcessControl, SignalsProbesAndReadsCommandLines) {
    LinuxProcessControl processes;
    UniqueFd null(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    auto child = processes.launch({"/bin/sleep", {"30"}, {}, null.get()});
    EXPECT_TRUE(child->isRunning());
    EXPECT_TRUE(processes.exists(child->pid()));
    // The parent may resume a moment before the new program's arguments are in place.
    std::optional<std::string> command;
    for (int i = 0; i < 200 && command.value_or("").empty(); ++i, ::usleep(1000)) {
        command = processes.commandLine(child->pid());
    }
    EXPECT_EQ(command, "/bin/sleep 30");
    child->signal(SIGTERM);
    child->waitForExit();
    EXPECT_FALSE(child->isRunning());
    EXPECT_FALSE(processes.exists(child->pid()));
    EXPECT_EQ(processes.commandLine(child->pid()), std::nullopt);

    // An ended child that nobody has waited for yet counts as gone.
    pid_t zombie = ::fork();
    if (zombie == 0) ::_exit(0);
    for (int i = 0; i < 200 && processes.exists(zombie); ++i) ::usleep(5000);
    EXPECT_FALSE(processes.exists(zombie));
    ::waitpid(zombie, nullptr, 0);
}

}  // namespace
}  // namespace orlune
