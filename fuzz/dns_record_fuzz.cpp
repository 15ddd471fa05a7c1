// Arbitrary bytes as the DNS record, which the service reads back after a crash to restore DNS.
// A record that is not valid is a clear error (never another exception type), and one that is
// valid survives being written and read again unchanged.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "dns/dns_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    orlune::DNSRecord record;
    try {
        record = orlune::dnsRecordFromJson(text);
    } catch (const std::runtime_error&) {
        return 0;
    }
    if (orlune::dnsRecordFromJson(orlune::toJson(record).dump()) != record) std::abort();
    return 0;
}
