#include "auth/client_authorizer_linux.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <optional>
#include <string_view>

#include "control/unique_fd.h"
#include "main/descriptor_reading.h"
#include "main/service_failure.h"

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77
#endif

namespace orlune {
namespace {

// Ordinary accounts start here on Linux; below are root and system accounts.
constexpr uid_t kFirstOrdinaryUid = 1000;
// The overflow account, which the kernel also reports for unmapped users.
constexpr uid_t kNobodyUid = 65534;
// /proc text files of one process are small; more than this is not read.
constexpr std::size_t kProcFileLimit = 1 << 20;

// Variables that make the dynamic loader or Qt load code that is not the installed program.
constexpr std::array<std::string_view, 6> kInjectionVariables = {
    "LD_PRELOAD", "LD_LIBRARY_PATH", "LD_AUDIT", "QT_PLUGIN_PATH", "QML_IMPORT_PATH", "QML2_IMPORT_PATH"};

[[noreturn]] void refuse(const char* text) { throw ServiceFailure::rejected(text); }

std::optional<std::string> readAt(int directory, const char* name) {
    UniqueFd fd(::openat(directory, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) return std::nullopt;
    return readToEnd(fd.get(), kProcFileLimit);
}

// Field 22 of /proc/PID/stat, the start time in clock ticks after boot. The command name in
// field 2 may hold spaces and parentheses, so fields are counted after its last ')'.
std::optional<std::string> startTime(int processDirectory) {
    std::optional<std::string> stat = readAt(processDirectory, "stat");
    if (!stat) return std::nullopt;
    std::size_t position = stat->rfind(')');
    if (position == std::string::npos) return std::nullopt;
    position += 1;
    // After the name come field 3 (state) onwards; field 22 is the 20th of them.
    for (int field = 3; field <= 22; ++field) {
        while (position < stat->size() && (*stat)[position] == ' ') ++position;
        std::size_t end = stat->find(' ', position);
        if (end == std::string::npos) end = stat->size();
        if (position >= end) return std::nullopt;
        if (field == 22) return stat->substr(position, end - position);
        position = end;
    }
    return std::nullopt;
}

bool isTraced(int processDirectory) {
    std::optional<std::string> status = readAt(processDirectory, "status");
    if (!status) return true;
    constexpr std::string_view key = "\nTracerPid:";
    std::size_t found = status->find(key);
    if (found == std::string::npos) return true;
    std::size_t position = found + key.size();
    while (position < status->size() && ((*status)[position] == ' ' || (*status)[position] == '\t')) ++position;
    std::size_t end = status->find('\n', position);
    return status->substr(position, end == std::string::npos ? std::string::npos : end - position) != "0";
}

// An unreadable environment counts as tampered with.
bool hasInjectionVariable(int processDirectory) {
    std::optional<std::string> environment = readAt(processDirectory, "environ");
    if (!environment) return true;
    std::string_view rest(*environment);
    while (!rest.empty()) {
        std::size_t end = rest.find('\0');
        std::string_view entry = rest.substr(0, end);
        for (std::string_view name : kInjectionVariables) {
            if (entry.size() > name.size() && entry.substr(0, name.size()) == name && entry[name.size()] == '=') {
                return true;
            }
        }
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return false;
}

bool stillAlive(int pidfd) { return ::syscall(SYS_pidfd_send_signal, pidfd, 0, nullptr, 0) == 0; }

UniqueFd peerPidfd(int fd, pid_t pid) {
    int pidfd = -1;
    socklen_t length = sizeof pidfd;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &length) == 0 && pidfd >= 0) {
        // Older kernels hand out the descriptor without close-on-exec.
        (void)::fcntl(pidfd, F_SETFD, FD_CLOEXEC);
        return UniqueFd(pidfd);
    }
    return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
}

}  // namespace

LinuxClientAuthorizer::LinuxClientAuthorizer(ClientManifest manifest, Options options)
    : manifest_(std::move(manifest)), options_(std::move(options)) {}

PeerIdentity LinuxClientAuthorizer::peer(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 || length != sizeof credentials) {
        refuse(kUnauthorizedClient);
    }
    if (credentials.uid < kFirstOrdinaryUid || credentials.uid == kNobodyUid) refuse(kUnauthorizedClient);
    if (credentials.pid < 2) refuse(kClientIdentityUnavailable);
    UniqueFd pidfd = peerPidfd(fd, credentials.pid);
    if (!pidfd) refuse(kClientAuditIdentityUnavailable);
    checkProcess(credentials.pid, pidfd.get());
    return PeerIdentity{credentials.uid, credentials.pid};
}

void LinuxClientAuthorizer::checkProcess(pid_t pid, int pidfd) {
    const std::string directoryPath = options_.procRoot + "/" + std::to_string(pid);
    UniqueFd directory(::open(directoryPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory) refuse(kClientAuditIdentityUnavailable);
    // Once the directory is open it keeps naming the same process (its files fail if that one
    // ends); the pidfd being alive now proves the process behind it is the one that connected.
    std::optional<std::string> started = startTime(directory.get());
    if (!started || !stillAlive(pidfd)) refuse(kClientAuditIdentityUnavailable);

    UniqueFd program(::openat(directory.get(), "exe", O_RDONLY | O_CLOEXEC));
    if (!program) refuse(kClientSignatureInvalid);
    struct stat info {};
    if (::fstat(program.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != options_.codeOwner ||
        (info.st_mode & (S_IWGRP | S_IWOTH)) != 0 || info.st_nlink == 0) {
        refuse(kClientSignatureInvalid);
    }
    if (isTraced(directory.get()) || hasInjectionVariable(directory.get())) {
        refuse(kClientSignatureInvalid);
    }

    std::array<char, 4096> target{};
    ssize_t targetLength = ::readlinkat(directory.get(), "exe", target.data(), target.size());
    if (targetLength <= 0 || static_cast<std::size_t>(targetLength) >= target.size()) {
        refuse(kClientCodeIdentityUnavailable);
    }
    const std::string path(target.data(), static_cast<std::size_t>(targetLength));
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() >= kDeleted.size() && path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
        refuse(kClientSignatureInvalid);
    }
    if (path != manifest_.identifier) refuse(kClientVersionMismatch);
    std::optional<std::string> hash = hashes_.hash(program.get(), info);
    if (!hash || *hash != manifest_.cdhash) refuse(kClientVersionMismatch);

    if (!stillAlive(pidfd) || startTime(directory.get()) != started) refuse(kClientAuditIdentityUnavailable);
}

}  // namespace orlune
