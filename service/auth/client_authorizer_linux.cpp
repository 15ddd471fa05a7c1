#include "auth/client_authorizer_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string_view>

#include "control/unique_fd.h"
#include "core/descriptor_reading.h"
#include "core/service_failure.h"

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

[[noreturn]] void refuse(const char* text) {
    throw ServiceFailure::rejected(text);
}

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

// Whether the directory at `path` (under the process's root `root`), and every one above it,
// can be written only by root or the code owner. A sticky directory such as /tmp counts too:
// others may add entries there but not replace one of root's, and every entry on the way is
// checked in its turn. Answers are kept for one check.
bool ownedDirectories(const std::string& root, std::string path, uid_t codeOwner, std::map<std::string, bool>& known) {
    while (!path.empty()) {
        auto [entry, fresh] = known.try_emplace(path, false);
        if (!fresh) return entry->second;
        struct stat info {};
        entry->second = ::lstat((root + path).c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
                        (info.st_uid == 0 || info.st_uid == codeOwner) &&
                        ((info.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (info.st_mode & S_ISVTX) != 0);
        if (!entry->second) return false;
        if (path == "/") return true;
        const std::size_t slash = path.find_last_of('/');
        path = slash == 0 ? "/" : path.substr(0, slash);
    }
    return false;
}

// Code that is not the installed system's: any file the process maps executable that is not
// owned by root (or the code owner), is writable by others, lies in a directory others can
// write, or has been deleted. This catches a preloaded library whatever the environment says
// now. Anonymous executable memory (a JIT), memfds included, is not a file and is left out. An unreadable map
// counts as foreign.
bool mapsForeignCode(int processDirectory, const std::string& root, uid_t codeOwner) {
    std::optional<std::string> maps = readAt(processDirectory, "maps");
    if (!maps) return true;
    std::map<std::string, bool> directories;
    std::string_view rest(*maps);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        // address perms offset device inode [path]
        std::size_t position = 0;
        std::string_view fields[5];
        for (auto& field : fields) {
            while (position < line.size() && line[position] == ' ') ++position;
            const std::size_t stop = std::min(line.find(' ', position), line.size());
            field = line.substr(position, stop - position);
            position = stop;
        }
        if (fields[1].size() < 3 || fields[1][2] != 'x') continue;
        while (position < line.size() && line[position] == ' ') ++position;
        const std::string path(line.substr(position));
        if (path.empty() || path.front() != '/') continue;
        // A memfd is anonymous memory with a name (Qt's QML JIT writes its code into one); it
        // always reads as deleted and no other process can have put code in it.
        if (path.starts_with("/memfd:") && path.ends_with(" (deleted)")) continue;
        if (path.ends_with(" (deleted)")) return true;
        struct stat info {};
        if (::stat((root + path).c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
            (info.st_uid != 0 && info.st_uid != codeOwner) || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
            return true;
        }
        const std::size_t slash = path.find_last_of('/');
        if (!ownedDirectories(root, slash == 0 ? "/" : path.substr(0, slash), codeOwner, directories)) return true;
    }
    return false;
}

// The inode of the peer's end of this connection, as the kernel's socket diagnostics name it;
// none when that cannot be learned.
std::optional<std::uint32_t> peerSocketInode(int fd) {
    struct stat self {};
    if (::fstat(fd, &self) != 0) return std::nullopt;
    UniqueFd netlink(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (!netlink) return std::nullopt;
    struct {
        nlmsghdr header;
        unix_diag_req request;
    } query{};
    query.header.nlmsg_len = sizeof query;
    query.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    query.header.nlmsg_flags = NLM_F_REQUEST;
    query.request.sdiag_family = AF_UNIX;
    query.request.udiag_states = ~0U;
    query.request.udiag_ino = static_cast<std::uint32_t>(self.st_ino);
    query.request.udiag_show = UDIAG_SHOW_PEER;
    query.request.udiag_cookie[0] = query.request.udiag_cookie[1] = ~0U;
    if (::send(netlink.get(), &query, sizeof query, 0) != static_cast<ssize_t>(sizeof query)) return std::nullopt;
    alignas(nlmsghdr) char buffer[8192];
    pollfd answer{netlink.get(), POLLIN, 0};
    if (::poll(&answer, 1, 1000) != 1) return std::nullopt;
    const ssize_t length = ::recv(netlink.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (length <= 0) return std::nullopt;
    auto* header = reinterpret_cast<nlmsghdr*>(buffer);
    // NLMSG_OK spelled out: the macro compares signed with unsigned.
    const auto received = static_cast<std::size_t>(length);
    if (received < sizeof(nlmsghdr) || header->nlmsg_len < sizeof(nlmsghdr) || header->nlmsg_len > received ||
        header->nlmsg_type != SOCK_DIAG_BY_FAMILY) {
        return std::nullopt;
    }
    auto* message = static_cast<unix_diag_msg*>(NLMSG_DATA(header));
    int attributesLength = static_cast<int>(header->nlmsg_len - NLMSG_LENGTH(sizeof *message));
    for (auto* attribute = reinterpret_cast<rtattr*>(message + 1); RTA_OK(attribute, attributesLength);
         attribute = RTA_NEXT(attribute, attributesLength)) {
        if (attribute->rta_type == UNIX_DIAG_PEER && RTA_PAYLOAD(attribute) >= sizeof(std::uint32_t)) {
            std::uint32_t inode = 0;
            std::memcpy(&inode, RTA_DATA(attribute), sizeof inode);
            return inode;
        }
    }
    return std::nullopt;
}

// A client that got its connection from a program it replaced by exec holds it without
// close-on-exec; the app itself opens it with the flag. False only when the peer's descriptor
// for this connection is found and lacks the flag, or is not found at all.
bool peerHoldsSocketCloseOnExec(int fd, int processDirectory) {
    const std::optional<std::uint32_t> inode = peerSocketInode(fd);
    if (!inode) return true;  // no socket diagnostics on this system: nothing to compare with
    const std::string wanted = "socket:[" + std::to_string(*inode) + "]";
    UniqueFd descriptors(::openat(processDirectory, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* listing = descriptors ? ::fdopendir(::dup(descriptors.get())) : nullptr;
    if (!listing) return false;
    bool found = false;
    bool closeOnExec = true;
    while (dirent* entry = ::readdir(listing)) {
        std::array<char, 64> target{};
        const ssize_t n = ::readlinkat(descriptors.get(), entry->d_name, target.data(), target.size() - 1);
        if (n <= 0 || std::string_view(target.data(), static_cast<std::size_t>(n)) != wanted) continue;
        found = true;
        const std::optional<std::string> info =
            readAt(processDirectory, ("fdinfo/" + std::string(entry->d_name)).c_str());
        const std::size_t flags = info ? info->find("flags:") : std::string::npos;
        closeOnExec = closeOnExec && flags != std::string::npos &&
                      (std::strtoul(info->c_str() + flags + 6, nullptr, 8) & O_CLOEXEC) != 0;
    }
    ::closedir(listing);
    return found && closeOnExec;
}

// A pidfd turns readable once its process has ended; asking needs no right to signal it.
bool stillAlive(int pidfd) {
    if (pidfd < 0) return false;
    pollfd ended{pidfd, POLLIN, 0};
    return ::poll(&ended, 1, 0) == 0;
}

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
    const std::string directoryPath = options_.procRoot + "/" + std::to_string(credentials.pid);
    UniqueFd directory(::open(directoryPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory || !peerHoldsSocketCloseOnExec(fd, directory.get())) refuse(kClientSignatureInvalid);
    if (!stillAlive(pidfd.get())) refuse(kClientAuditIdentityUnavailable);
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
    if (isTraced(directory.get()) || hasInjectionVariable(directory.get()) ||
        mapsForeignCode(directory.get(), directoryPath + "/root", options_.codeOwner)) {
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
