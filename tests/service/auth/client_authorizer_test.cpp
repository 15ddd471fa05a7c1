#include "auth/client_authorizer_linux.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "auth/executable_hash.h"
#include "control/unique_fd.h"
#include "core/service_failure.h"

namespace orlune {
namespace {

namespace fs = std::filesystem;

constexpr pid_t kFakePid = 4242;

UniqueFd pidfdOf(pid_t pid) {
    return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
}

std::string hashOf(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return sha256Hex(fd.get()).value_or("");
}

// A process directory as /proc shows it: exe pointing at a program file, stat, status, environ.
class FakeProcTest : public ::testing::Test {
public:  // the tamper tables reach into the fixture
    void SetUp() override {
        root_ = ::testing::TempDir() + "fakeproc-" + std::to_string(::getpid());
        fs::remove_all(root_);
        fs::create_directories(root_ + "/" + std::to_string(kFakePid));
        program_ = root_ + "/orlune-vpn";
        std::ofstream(program_) << "#!/bin/true\nthe app\n";
        ::chmod(program_.c_str(), 0755);
        fs::create_symlink(program_, process("exe"));
        writeStat("4242 (orlune vpn) (x) S 1 4242 4242 0 -1 4194560 100 0 0 0 1 2 0 0 20 0 1 0 987654 1000");
        writeStatus("Name:\torlune-vpn\nState:\tS (sleeping)\nTracerPid:\t0\nUid:\t1000\n");
        writeEnvironment(std::string("HOME=/home/a\0LANG=C\0", 20));
        fs::create_directory_symlink("/", process("root"));
        writeMaps(
            "55d0a000-55d0b000 r-xp 00001000 fe:00 1234   /usr/bin/true\n"
            "7f00a000-7f00b000 r-xp 00000000 00:00 0 \n"
            "7ffc0000-7ffc1000 r-xp 00000000 00:00 0                  [vdso]\n");
        pidfd_ = pidfdOf(::getpid());
        manifest_ = ClientManifest{program_, hashOf(program_)};
    }
    void TearDown() override { fs::remove_all(root_); }

    std::string process(const std::string& name) const { return root_ + "/" + std::to_string(kFakePid) + "/" + name; }
    void writeStat(const std::string& text) { std::ofstream(process("stat")) << text; }
    void writeStatus(const std::string& text) { std::ofstream(process("status")) << text; }
    void writeEnvironment(const std::string& text) { std::ofstream(process("environ")) << text; }
    void writeMaps(const std::string& text) { std::ofstream(process("maps")) << text; }

    // The refusal text, or empty when the process is accepted.
    std::string check(const ClientManifest& manifest, int pidfd) {
        LinuxClientAuthorizer authorizer(manifest, {root_, ::geteuid()});
        try {
            authorizer.checkProcess(kFakePid, pidfd);
        } catch (const ServiceFailure& failure) {
            return failure.errorDescription();
        }
        return "";
    }
    std::string check() { return check(manifest_, pidfd_.get()); }

    std::string root_;
    std::string program_;
    UniqueFd pidfd_;
    ClientManifest manifest_;
};

TEST_F(FakeProcTest, AcceptsTheInstalledProgram) {
    EXPECT_EQ(check(), "");
}

TEST_F(FakeProcTest, RefusesATamperedProcessAsAnInvalidSignature) {
    const struct {
        const char* name;
        std::function<void(FakeProcTest&)> tamper;
    } cases[] = {
        {"program writable by group", [](FakeProcTest& t) { ::chmod(t.program_.c_str(), 0775); }},
        {"program writable by others", [](FakeProcTest& t) { ::chmod(t.program_.c_str(), 0757); }},
        {"no program", [](FakeProcTest& t) { fs::remove(t.program_); }},
        {"program is a directory",
         [](FakeProcTest& t) {
             fs::remove(t.program_);
             fs::create_directory(t.program_);
         }},
        {"traced", [](FakeProcTest& t) { t.writeStatus("Name:\tx\nTracerPid:\t917\n"); }},
        {"no TracerPid line", [](FakeProcTest& t) { t.writeStatus("Name:\tx\n"); }},
        {"LD_PRELOAD", [](FakeProcTest& t) { t.writeEnvironment(std::string("A=1\0LD_PRELOAD=/tmp/x.so\0", 26)); }},
        {"LD_LIBRARY_PATH last, no NUL",
         [](FakeProcTest& t) { t.writeEnvironment(std::string("A=1\0LD_LIBRARY_PATH=/tmp", 24)); }},
        {"LD_AUDIT", [](FakeProcTest& t) { t.writeEnvironment("LD_AUDIT=/tmp/a.so"); }},
        {"QT_PLUGIN_PATH", [](FakeProcTest& t) { t.writeEnvironment("QT_PLUGIN_PATH=/tmp"); }},
        {"QML2_IMPORT_PATH", [](FakeProcTest& t) { t.writeEnvironment("QML2_IMPORT_PATH=/tmp"); }},
        {"environment unreadable", [](FakeProcTest& t) { fs::remove(t.process("environ")); }},
        {"maps unreadable", [](FakeProcTest& t) { fs::remove(t.process("maps")); }},
        {"a library in a directory others may write",
         [](FakeProcTest& t) {
             const std::string library = t.root_ + "/open/lib.so";
             fs::create_directories(t.root_ + "/open");
             std::ofstream(library) << "code";
             ::chmod((t.root_ + "/open").c_str(), 0777);
             t.writeMaps("7f00a000-7f00b000 r-xp 00000000 fe:00 99 " + library + "\n");
         }},
        {"a deleted library",
         [](FakeProcTest& t) { t.writeMaps("7f00a000-7f00b000 r-xp 0 fe:00 9 /usr/lib/x.so (deleted)\n"); }},
        {"a library that is not there",
         [](FakeProcTest& t) { t.writeMaps("7f00a000-7f00b000 r-xp 0 fe:00 9 /nonexistent/inject.so\n"); }},
    };
    for (const auto& c : cases) {
        SetUp();
        c.tamper(*this);
        EXPECT_EQ(check(), kClientSignatureInvalid) << c.name;
    }
}

TEST_F(FakeProcTest, AcceptsJitCodeInAMemfd) {
    // What the window's QML engine maps once its JIT runs.
    writeMaps("7f00c000-7f00d000 r-xs 00000000 00:01 2071 /memfd:JITCode:QtQml (deleted)\n");
    EXPECT_EQ(check(), "");
}

TEST_F(FakeProcTest, VariablesThatOnlyResembleInjectionOnesAreHarmless) {
    writeEnvironment(std::string("XLD_PRELOAD=1\0LD_PRELOADX=1\0MY_QT_PLUGIN_PATH=/x\0", 48));
    EXPECT_EQ(check(), "");
}

TEST_F(FakeProcTest, RefusesAProgramDeletedSinceItStarted) {
    // What /proc shows for a running program whose file was removed: the link still opens the
    // old file, which has no name left.
    UniqueFd running(::open(program_.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(running);
    const std::string link = "/proc/self/fd/" + std::to_string(running.get());
    fs::remove(process("exe"));
    fs::create_symlink(link, process("exe"));
    const ClientManifest manifest{link, manifest_.cdhash};
    EXPECT_EQ(check(manifest, pidfd_.get()), "") << "still named";
    fs::remove(program_);
    EXPECT_EQ(check(manifest, pidfd_.get()), kClientSignatureInvalid);
}

TEST_F(FakeProcTest, RefusesAProgramOwnedBySomebodyElse) {
    if (::geteuid() != 0) GTEST_SKIP() << "changing a file's owner needs root";
    ASSERT_EQ(::chown(program_.c_str(), 1000, 1000), 0);
    EXPECT_EQ(check(), kClientSignatureInvalid);
}

TEST_F(FakeProcTest, RefusesAnotherBuildOrPlace) {
    EXPECT_EQ(check({program_ + "x", manifest_.cdhash}, pidfd_.get()), kClientVersionMismatch);
    EXPECT_EQ(check({"", manifest_.cdhash}, pidfd_.get()), kClientVersionMismatch);
    std::string upper = manifest_.cdhash;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(check({program_, upper}, pidfd_.get()), kClientVersionMismatch);
    // The program changed after the manifest was written.
    std::ofstream(program_, std::ios::app) << "patched";
    EXPECT_EQ(check(), kClientVersionMismatch);
}

TEST_F(FakeProcTest, NoticesAReplacedProgramAtTheNextCheck) {
    LinuxClientAuthorizer authorizer(manifest_, {root_, ::geteuid()});
    EXPECT_NO_THROW(authorizer.checkProcess(kFakePid, pidfd_.get()));
    // Same size, same path: only the content differs, and the cached hash must not hide it.
    std::string text = "#!/bin/true\nthe apq\n";
    std::ofstream(program_, std::ios::trunc) << text;
    EXPECT_THROW(authorizer.checkProcess(kFakePid, pidfd_.get()), ServiceFailure);
}

TEST_F(FakeProcTest, RefusesWhenTheProcessIdentityDoesNotHold) {
    EXPECT_EQ(check(manifest_, -1), kClientAuditIdentityUnavailable) << "no pidfd";

    pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    UniqueFd ended = pidfdOf(child);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(check(manifest_, ended.get()), kClientAuditIdentityUnavailable) << "process gone";

    writeStat("4242 (x) S 1");
    EXPECT_EQ(check(), kClientAuditIdentityUnavailable) << "no start time";

    fs::remove_all(root_ + "/" + std::to_string(kFakePid));
    EXPECT_EQ(check(), kClientAuditIdentityUnavailable) << "no process directory";
}

TEST(ExecutableHash, IsTheLowercaseSha256OfTheWholeFile) {
    const std::string path = ::testing::TempDir() + "hash-" + std::to_string(::getpid());
    std::ofstream(path) << "abc";
    EXPECT_EQ(hashOf(path), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    std::ofstream(path, std::ios::trunc) << std::string(200'000, 'x');
    EXPECT_EQ(hashOf(path).size(), 64u);
    EXPECT_NE(hashOf(path), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    fs::remove(path);
}

// The real path through the kernel: a process of an ordinary user connects over a Unix socket,
// and this very test program plays the installed app.
class RealPeerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "connecting as another user needs root";
        socketPath_ = "/tmp/orlune-auth-test-" + std::to_string(::getpid()) + ".sock";
        listener_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        socketPath_.copy(address.sun_path, sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::chmod(socketPath_.c_str(), 0666);
        ASSERT_EQ(::listen(listener_.get(), 1), 0);
        program_ = fs::read_symlink("/proc/self/exe");
    }
    void TearDown() override {
        if (child_ > 0) {
            ::kill(child_, SIGKILL);
            ::waitpid(child_, nullptr, 0);
        }
        if (!socketPath_.empty()) ::unlink(socketPath_.c_str());
    }

    // Starts a child that becomes `uid`, connects and waits until the socket closes.
    UniqueFd connectAs(uid_t uid, bool closeOnExec = true) {
        child_ = ::fork();
        if (child_ == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0) {
                ::_exit(2);
            }
            int fd = ::socket(AF_UNIX, SOCK_STREAM | (closeOnExec ? SOCK_CLOEXEC : 0), 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            socketPath_.copy(address.sun_path, sizeof address.sun_path - 1);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(3);
            char byte;
            (void)::read(fd, &byte, 1);
            ::_exit(0);
        }
        return UniqueFd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    }

    std::string peerFailure(const ClientManifest& manifest, int fd, PeerIdentity* identity = nullptr) {
        LinuxClientAuthorizer authorizer(manifest);
        try {
            PeerIdentity result = authorizer.peer(fd);
            if (identity) *identity = result;
        } catch (const ServiceFailure& failure) {
            return failure.errorDescription();
        }
        return "";
    }

    std::string socketPath_;
    std::string program_;
    UniqueFd listener_;
    pid_t child_ = -1;
};

TEST_F(RealPeerTest, AcceptsTheListedProgramOfAnOrdinaryUser) {
    UniqueFd connection = connectAs(1000);
    ASSERT_TRUE(connection);
    PeerIdentity identity;
    EXPECT_EQ(peerFailure({program_, hashOf(program_)}, connection.get(), &identity), "");
    EXPECT_EQ(identity, (PeerIdentity{1000, child_}));
    EXPECT_EQ(peerFailure({program_ + ".other", hashOf(program_)}, connection.get()), kClientVersionMismatch);
}

TEST_F(RealPeerTest, RefusesAConnectionThatWouldSurviveExec) {
    UniqueFd connection = connectAs(1000, false);
    ASSERT_TRUE(connection);
    EXPECT_EQ(peerFailure({program_, hashOf(program_)}, connection.get()), kClientSignatureInvalid);
}

TEST_F(RealPeerTest, RefusesRootSystemAndOverflowUsers) {
    for (uid_t uid : {0u, 999u, 65534u}) {
        UniqueFd connection = connectAs(uid);
        ASSERT_TRUE(connection);
        EXPECT_EQ(peerFailure({program_, hashOf(program_)}, connection.get()), kUnauthorizedClient) << uid;
        connection.reset();
        ::waitpid(child_, nullptr, 0);
        child_ = -1;
    }
}

TEST_F(RealPeerTest, RefusesAClientThatIsGoneBeforeItsCheck) {
    UniqueFd connection = connectAs(1000);
    ASSERT_TRUE(connection);
    ::kill(child_, SIGKILL);
    ::waitpid(child_, nullptr, 0);
    child_ = -1;
    EXPECT_EQ(peerFailure({program_, hashOf(program_)}, connection.get()), kClientAuditIdentityUnavailable);
}

}  // namespace
}  // namespace orlune
