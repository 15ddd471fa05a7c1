#include "dns/dns_backend_resolvconf_linux.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <optional>

#include "control/unique_fd.h"

namespace orlune {
namespace {

[[noreturn]] void throwErrno(int error, const std::string& what) {
    throw ServiceFailure::system(kDNSSettingsFailed, error, what);
}

// Lines with their line feed, so unchanged lines are copied exactly as they were.
std::vector<std::string_view> linesWithEnds(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const auto length = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(text.substr(0, length));
        text.remove_prefix(length);
    }
    return lines;
}

// The server a resolver line names, when it is a nameserver line.
std::optional<std::string_view> nameserverOf(std::string_view line) {
    constexpr std::string_view kBlank = " \t\r\n";
    const auto begin = line.find_first_not_of(kBlank);
    if (begin == std::string_view::npos) return std::nullopt;
    line.remove_prefix(begin);
    constexpr std::string_view kKeyword = "nameserver";
    if (!line.starts_with(kKeyword) || line.size() == kKeyword.size()) return std::nullopt;
    line.remove_prefix(kKeyword.size());
    if (kBlank.find(line.front()) == std::string_view::npos) return std::nullopt;
    const auto start = line.find_first_not_of(kBlank);
    if (start == std::string_view::npos) return std::nullopt;
    line.remove_prefix(start);
    return line.substr(0, line.find_first_of(kBlank));
}

// The file's content; a missing file reads as empty (the resolver then has no servers).
std::optional<std::string> readFile(const std::filesystem::path& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT) return std::nullopt;
        throwErrno(errno, "Could not read " + path.string());
    }
    std::string text;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throwErrno(errno, "Could not read " + path.string());
        if (n == 0) return text;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace

std::vector<std::string> nameservers(std::string_view text) {
    std::vector<std::string> servers;
    for (auto line : linesWithEnds(text)) {
        if (auto server = nameserverOf(line)) servers.emplace_back(*server);
    }
    return servers;
}

std::string replaceNameservers(std::string_view text, const std::vector<std::string>& servers) {
    const auto lines = linesWithEnds(text);
    std::size_t lastNameserver = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (nameserverOf(lines[i])) lastNameserver = i;
    }
    std::string result;
    std::size_t next = 0;
    // Whether the text ends with a line written here, rather than one copied from the file.
    bool endsWithWritten = false;
    auto emit = [&](std::size_t count) {
        for (; count > 0 && next < servers.size(); --count, ++next) {
            result += "nameserver " + servers[next] + "\n";
            endsWithWritten = true;
        }
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!nameserverOf(lines[i])) {
            result += lines[i];
            endsWithWritten = false;
            continue;
        }
        emit(1);
        if (i == lastNameserver) emit(servers.size());
    }
    if (lastNameserver == lines.size() && !servers.empty()) {
        if (!result.empty() && result.back() != '\n') result += '\n';
        emit(servers.size());
    }
    // A file whose last line was an unterminated nameserver line stays unterminated. Only a line
    // written here loses its line feed: when that last line went (fewer servers than lines),
    // the copied line before it keeps its own.
    if (!lines.empty() && lastNameserver == lines.size() - 1 && !lines.back().ends_with('\n') && endsWithWritten) {
        result.pop_back();
    }
    return result;
}

void ResolvConfDNSBackend::requireThisFile(const std::string& service) const {
    if (service != path_.string()) throw DNSServiceVanished(service);
}

std::vector<std::string> ResolvConfDNSBackend::servers(const std::string& service) {
    requireThisFile(service);
    return nameservers(readFile(path_).value_or(""));
}

void ResolvConfDNSBackend::applyServers(const std::string& service, const std::vector<std::string>& servers) {
    requireThisFile(service);
    rewrite(servers);
}

void ResolvConfDNSBackend::restoreServers(const std::string& service, const std::vector<std::string>& previous) {
    requireThisFile(service);
    rewrite(previous);
}

void ResolvConfDNSBackend::rewrite(const std::vector<std::string>& servers) {
    const auto current = readFile(path_);
    if (!current && servers.empty()) return;  // no file and nothing to add: leave it absent
    const std::string text = replaceNameservers(current.value_or(""), servers);
    if (current == text) return;

    UniqueFd fd(::open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    if (!fd) throwErrno(errno, "Could not write " + path_.string());
    std::string_view rest = text;
    off_t offset = 0;
    while (!rest.empty()) {
        const ssize_t n = ::pwrite(fd.get(), rest.data(), rest.size(), offset);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throwErrno(errno, "Could not write " + path_.string());
        rest.remove_prefix(static_cast<std::size_t>(n));
        offset += n;
    }
    if (::ftruncate(fd.get(), offset) != 0) throwErrno(errno, "Could not write " + path_.string());
    if (::fsync(fd.get()) != 0) throwErrno(errno, "Could not write " + path_.string());
}

}  // namespace orlune
