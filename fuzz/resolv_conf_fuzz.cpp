// Arbitrary bytes as /etc/resolv.conf, which any administrator or network tool may have written.
// Switching DNS and giving it back must leave the servers as they were and every other line
// untouched.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "dns/dns_backend_resolvconf_linux.h"

namespace {

// The lines that are not nameserver lines ("nameserver", a blank, a word), in order and without
// their line feeds: what a switch must never change.
std::vector<std::string> otherLines(std::string_view text) {
    constexpr std::string_view kBlank = " \t\r\n";
    std::vector<std::string> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        const auto begin = line.find_first_not_of(kBlank);
        const std::string_view rest = begin == std::string_view::npos ? std::string_view() : line.substr(begin);
        const bool nameserver = rest.starts_with("nameserver") && rest.size() > 10 &&
                                kBlank.find(rest[10]) != std::string_view::npos &&
                                rest.find_first_not_of(kBlank, 10) != std::string_view::npos;
        if (!nameserver) lines.emplace_back(line);
    }
    return lines;
}

[[noreturn]] void violated(const char* what) {
    std::fprintf(stderr, "resolv.conf property violated: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> before = orlune::nameservers(text);
    const std::vector<std::string> tunnel{"1.1.1.1", "8.8.8.8"};
    const std::string switched = orlune::replaceNameservers(text, tunnel);
    if (orlune::nameservers(switched) != tunnel) violated("the switched file does not name the tunnel's servers");
    if (otherLines(switched) != otherLines(text)) violated("a line other than a nameserver changed");
    const std::string restored = orlune::replaceNameservers(switched, before);
    if (orlune::nameservers(restored) != before) violated("the restored file does not name the servers of before");
    if (otherLines(restored) != otherLines(text)) violated("a line changed across switch and restore");
    return 0;
}
