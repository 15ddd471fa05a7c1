#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace orlune {

inline constexpr const char* kDNSRecordInvalid =
    "The record of the DNS switch is damaged, so the earlier DNS servers cannot be restored.";

// What the override changed, written before the change: the network service, its DNS servers
// before the change (empty when none were set), and the servers that were set. Its presence on
// disk means DNS was switched and not yet restored.
struct DNSRecord {
    std::string service;
    std::vector<std::string> previous;
    std::vector<std::string> applied;

    friend bool operator==(const DNSRecord&, const DNSRecord&) = default;
};

// The JSON object with exactly the keys "service", "previous" and "applied".
nlohmann::json toJson(const DNSRecord& record);
// Accepts the keys in any order; all three are required with their types. Throws ServiceFailure
// (kDNSRecordInvalid, the problem as its detail) otherwise.
DNSRecord dnsRecordFromJson(std::string_view text);

}  // namespace orlune
