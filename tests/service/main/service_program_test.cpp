// The service program as a user starts it: as an ordinary user (the tests drop to "nobody" when
// they run as root), in an empty working directory that must stay empty.
#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "control/unique_fd.h"
#include "engine/transport_observation.h"
#include "policy/profile_policy.h"

namespace orlune {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

class ServiceProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orlune-program-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        directory_ = pattern;
        // A copy that an ordinary user may run, wherever the build tree lives.
        program_ = directory_ / "orlune-vpn-service";
        fs::copy_file(ORLUNE_SERVICE_PROGRAM, program_);
        workDirectory_ = directory_ / "cwd";
        fs::create_directory(workDirectory_);
        fs::permissions(directory_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        fs::permissions(workDirectory_, fs::perms::all);
    }
    void TearDown() override { fs::remove_all(directory_); }

    Outcome runAsOrdinaryUser(std::vector<std::string> arguments) {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) std::abort();
        std::string path = program_.string();
        std::vector<char*> argv{path.data()};
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        const std::string cwd = workDirectory_.string();
        const bool dropPrivileges = ::geteuid() == 0;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            if (::chdir(cwd.c_str()) != 0) ::_exit(126);
            if (dropPrivileges && (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
                                   ::setresuid(kNobody, kNobody, kNobody) != 0)) {
                ::_exit(126);
            }
            char* environment[] = {nullptr};
            ::execve(argv[0], argv.data(), environment);
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        UniqueFd outRead(out[0]);
        UniqueFd errRead(err[0]);
        Outcome outcome;
        outcome.out = readAll(outRead.get());
        outcome.err = readAll(errRead.get());
        ::waitpid(pid, &outcome.status, 0);
        return outcome;
    }

    bool workDirectoryIsEmpty() const { return fs::is_empty(workDirectory_); }

    fs::path directory_;
    fs::path program_;
    fs::path workDirectory_;
};

TEST_F(ServiceProgramTest, SelfTestPrintsBothPassLinesWithoutPrivileges) {
    const std::string expected =
        std::string(ProfilePolicy::kSelfTestPass) + "\n" + std::string(kObservationSelfTestPass) + "\n";
    for (std::vector<std::string> arguments :
         {std::vector<std::string>{"--self-test"}, std::vector<std::string>{"--verbose", "--self-test", "extra"}}) {
        const Outcome outcome = runAsOrdinaryUser(arguments);
        ASSERT_TRUE(WIFEXITED(outcome.status));
        EXPECT_EQ(WEXITSTATUS(outcome.status), 0);
        EXPECT_EQ(outcome.out, expected);
        EXPECT_EQ(outcome.err, "");
    }
    EXPECT_TRUE(workDirectoryIsEmpty());
}

TEST_F(ServiceProgramTest, OrdinaryUserIsRefused) {
    const Outcome outcome = runAsOrdinaryUser({});
    ASSERT_TRUE(WIFEXITED(outcome.status));
    EXPECT_EQ(WEXITSTATUS(outcome.status), 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "Orlune VPN service: The VPN service must be launched by the installed system service.\n");
    EXPECT_TRUE(workDirectoryIsEmpty());
}

}  // namespace
}  // namespace orlune
