#include "engine/engine_supervisor.h"
#include "engine/transport_observation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "engine/state_files.h"
#include "support/fake_processes.h"

namespace orlune {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::FakeChild;
using testing::FakeClock;
using testing::FakeProcessControl;

struct RecordingHost final : EngineHost {
    void restoreDNS() override {
        ++restores;
        if (restoreFails) throw std::runtime_error("A network configuration command failed.");
    }
    void engineStopped() override { ++stopped; }
    int restores = 0;
    int stopped = 0;
    bool restoreFails = false;
};

class SupervisorTest : public ::testing::Test {
protected:
    SupervisorTest()
        : directory_(::testing::TempDir() + "supervisor-" + std::to_string(::getpid())),
          supervisor_({"/usr/sbin/openvpn", directory_ + "/state"}, processes_, clock_, host_) {
        fs::remove_all(directory_);
        fs::create_directories(directory_ + "/state");
    }
    ~SupervisorTest() override { fs::remove_all(directory_); }

    const EnginePaths& paths() { return supervisor_.paths(); }
    void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

    // A running engine owned by user 1000's process 700, as "connect" leaves it.
    void startEngine() {
        processes_.alive[700] = true;
        supervisor_.writeConfiguration("client\n");
        supervisor_.adopt(1000, 700, supervisor_.createLog());
        supervisor_.launch(LaunchRequest{paths().engine, {"--config", paths().configuration()}, {"PATH=/bin"}});
    }
    FakeChild::State& engine() { return *processes_.children.back(); }

    std::string directory_;
    FakeClock clock_;
    FakeProcessControl processes_;
    RecordingHost host_;
    EngineSupervisor supervisor_;
};

TEST_F(SupervisorTest, LaunchRecordsTheOwnerTheLogAndThePidFile) {
    startEngine();
    ASSERT_EQ(processes_.launches.size(), 1u);
    EXPECT_GE(processes_.launches[0].output, 0);
    EXPECT_EQ(::fcntl(processes_.launches[0].output, F_GETFD), -1)
        << "the engine holds the only write end of its output";
    std::ifstream pid(paths().pid());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(pid), {}), "5000");
    struct stat info {};
    ASSERT_EQ(::stat(paths().pid().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(paths().log().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(supervisor_.ownerUID(), 1000u);
}

TEST_F(SupervisorTest, TickWithoutEngineDoesNothing) {
    supervisor_.tick();
    EXPECT_EQ(host_.restores, 0);
}

TEST_F(SupervisorTest, HeartbeatOfNinetySecondsKeepsTheEngineAndNinetyOneStopsIt) {
    startEngine();
    clock_.advance(90s);
    supervisor_.tick();
    EXPECT_TRUE(engine().running);
    EXPECT_EQ(host_.restores, 0);

    clock_.advance(1s);
    supervisor_.tick();
    EXPECT_FALSE(engine().running);
    EXPECT_EQ(engine().signals, std::vector<int>{SIGTERM});
    EXPECT_EQ(supervisor_.lastFailure(), "");
    EXPECT_EQ(host_.restores, 1);
    EXPECT_FALSE(supervisor_.hasEngine());
    EXPECT_FALSE(supervisor_.ownerUID());
    EXPECT_FALSE(supervisor_.ownerPID());
    EXPECT_FALSE(fs::exists(paths().pid()));
    EXPECT_FALSE(fs::exists(paths().configuration()));
    EXPECT_TRUE(fs::exists(paths().log()));
}

TEST_F(SupervisorTest, AGoneOwnerStopsTheEngineWithoutRecordingAFailure) {
    startEngine();
    clock_.advance(1s);
    processes_.alive.erase(700);
    supervisor_.tick();
    EXPECT_FALSE(supervisor_.hasEngine());
    EXPECT_EQ(supervisor_.lastFailure(), "");
    EXPECT_EQ(host_.stopped, 1);
}

TEST_F(SupervisorTest, AnEngineThatEndedIsRecordedFromTheEndOfItsLog) {
    const struct {
        const char* name;
        std::string log;
        const char* failure;
    } cases[] = {
        {"auth failure at the end", "start\nAUTH: Received control message: AUTH_FAILED\nexiting\n",
         kEngineAuthenticationFailed},
        {"auth failure just inside the tail",
         std::string(kEngineAuthFailedLine) + "\n" + std::string(kLogTailSize - kEngineAuthFailedLine.size() - 1, '.'),
         kEngineAuthenticationFailed},
        {"auth failure only before the tail",
         std::string(kEngineAuthFailedLine) + "\n" + std::string(kLogTailSize - kEngineAuthFailedLine.size(), '.'),
         kEngineDisconnected},
        {"a relay's text naming the failure",
         "PUSH: Received control message: 'PUSH_REPLY,echo AUTH_FAILED'\n"
         "echo:AUTH: Received control message: AUTH_FAILED\n",
         kEngineDisconnected},
        {"no reason", "Connection reset, restarting\n", kEngineDisconnected},
        {"empty log", "", kEngineDisconnected},
    };
    for (const auto& c : cases) {
        startEngine();
        writeFile(paths().log(), c.log);
        engine().running = false;
        supervisor_.tick();
        EXPECT_EQ(supervisor_.lastFailure(), c.failure) << c.name;
        EXPECT_FALSE(supervisor_.hasEngine()) << c.name;
        EXPECT_TRUE(engine().signals.empty()) << c.name;
    }
}

TEST_F(SupervisorTest, AFailedRestoreKeepsTheOwnerAndFilesAndIsRecorded) {
    startEngine();
    processes_.alive.erase(700);
    host_.restoreFails = true;
    supervisor_.tick();
    EXPECT_EQ(supervisor_.lastFailure(), kEngineStopNeedsAttention);
    EXPECT_FALSE(supervisor_.hasEngine());
    EXPECT_EQ(supervisor_.ownerUID(), 1000u);
    EXPECT_TRUE(fs::exists(paths().pid()));
    EXPECT_TRUE(fs::exists(paths().configuration()));

    host_.restoreFails = false;
    supervisor_.stop();
    EXPECT_FALSE(supervisor_.ownerUID());
    EXPECT_FALSE(fs::exists(paths().pid()));
}

TEST_F(SupervisorTest, AnEngineThatIgnoresTermIsKilledAfterSixSeconds) {
    startEngine();
    engine().ignoresTerm = true;
    supervisor_.stop();
    EXPECT_EQ(engine().signals, (std::vector<int>{SIGTERM, SIGTERM, SIGKILL}));
    EXPECT_GE(clock_.slept(), 6s);
    EXPECT_LT(clock_.slept(), 6s + 100ms);
    EXPECT_TRUE(engine().waited);
}

TEST_F(SupervisorTest, AnEngineTellingItsRelayItLeavesIsHurriedOnceTheNoticeIsOut) {
    startEngine();
    engine().termsToEnd = 2;
    supervisor_.stop();
    EXPECT_EQ(engine().signals, (std::vector<int>{SIGTERM, SIGTERM}));
    EXPECT_GE(clock_.slept(), 100ms);
    EXPECT_LE(clock_.slept(), 150ms);
    EXPECT_EQ(host_.restores, 1);
}

TEST_F(SupervisorTest, StopWithNothingRunningStillRestoresAndCleansUp) {
    writeFile(paths().pid(), "77");
    writeFile(paths().configuration(), "client");
    writeFile(paths().management(), "");
    supervisor_.adopt(1000, 700, UniqueFd());
    supervisor_.stop();
    EXPECT_EQ(host_.restores, 1);
    EXPECT_FALSE(fs::exists(paths().pid()));
    EXPECT_FALSE(fs::exists(paths().configuration()));
    EXPECT_FALSE(fs::exists(paths().management()));
    EXPECT_FALSE(supervisor_.ownerUID());
    EXPECT_FALSE(supervisor_.ownerPID());
}

TEST_F(SupervisorTest, RecoveryEndsOnlyTheEngineItsPidFileNames) {
    const std::string engineCommand = "/usr/sbin/openvpn --config " + paths().configuration() + " --script-security 2";
    const struct {
        const char* pidFile;
        pid_t process;
        std::string command;
        bool signalled;
    } cases[] = {
        {" 4242\n", 4242, engineCommand, true},
        {"+4242", 4242, engineCommand, true},
        {"4242", 4242, "/usr/bin/vim notes.txt", false},
        {"4242", 4242, "/usr/sbin/openvpn --config /etc/openvpn/other.conf", false},
        {"1", 1, engineCommand, false},
        {"0", 0, engineCommand, false},
        {"-4242", -4242, engineCommand, false},
        {"42a", 42, engineCommand, false},
        {"", 0, engineCommand, false},
        {"99999999999", 0, engineCommand, false},
    };
    for (const auto& c : cases) {
        processes_.signals.clear();
        processes_.alive = {{c.process, true}};
        processes_.commandLines = {{c.process, c.command}};
        writeFile(paths().pid(), c.pidFile);
        writeFile(paths().configuration(), "client");
        writeFile(paths().log(), "kept");
        supervisor_.recover();
        if (c.signalled) {
            EXPECT_EQ(processes_.signals, (std::vector<std::pair<pid_t, int>>{{c.process, SIGTERM}})) << c.pidFile;
        } else {
            EXPECT_TRUE(processes_.signals.empty()) << c.pidFile;
        }
        EXPECT_FALSE(fs::exists(paths().pid())) << c.pidFile;
        EXPECT_FALSE(fs::exists(paths().configuration())) << c.pidFile;
        EXPECT_TRUE(fs::exists(paths().log())) << c.pidFile;
    }
    EXPECT_EQ(host_.restores, static_cast<int>(std::size(cases)));
}

TEST_F(SupervisorTest, RecoveryKillsAStubbornEngineAndMakesItsDirectory) {
    fs::remove_all(paths().state);
    supervisor_.recover();
    struct stat info {};
    ASSERT_EQ(::stat(paths().state.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    processes_.alive = {{4242, true}};
    processes_.ignoresTerm = {{4242, true}};
    processes_.commandLines = {{4242, "/usr/sbin/openvpn --config " + paths().configuration()}};
    writeFile(paths().pid(), "4242");
    supervisor_.recover();
    EXPECT_EQ(processes_.signals, (std::vector<std::pair<pid_t, int>>{{4242, SIGTERM}, {4242, SIGKILL}}));
    EXPECT_GE(clock_.slept(), 6s);
}

TEST_F(SupervisorTest, RecoveryFailsWhenDnsCannotBeRestored) {
    host_.restoreFails = true;
    writeFile(paths().pid(), "4242");
    EXPECT_THROW(supervisor_.recover(), std::runtime_error);
}

}  // namespace
}  // namespace orlune
