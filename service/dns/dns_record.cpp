#include "dns/dns_record.h"

#include "core/service_failure.h"

namespace orlune {
namespace {

[[noreturn]] void invalid(const std::string& problem) {
    throw ServiceFailure::failed(kDNSRecordInvalid, "The DNS record is not valid: " + problem + ".");
}

std::vector<std::string> textList(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end()) invalid(std::string("\"") + key + "\" is missing");
    if (!found->is_array()) invalid(std::string("\"") + key + "\" is not a list");
    std::vector<std::string> result;
    for (const auto& item : *found) {
        if (!item.is_string()) invalid(std::string("\"") + key + "\" holds something other than text");
        result.push_back(item.get<std::string>());
    }
    return result;
}

}  // namespace

nlohmann::json toJson(const DNSRecord& record) {
    return nlohmann::json{{"service", record.service}, {"previous", record.previous}, {"applied", record.applied}};
}

DNSRecord dnsRecordFromJson(std::string_view text) {
    nlohmann::json object;
    try {
        object = nlohmann::json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::exception&) {
        invalid("it is not JSON");
    }
    if (!object.is_object()) invalid("it is not a JSON object");
    const auto service = object.find("service");
    if (service == object.end()) invalid("\"service\" is missing");
    if (!service->is_string()) invalid("\"service\" is not a text");
    return DNSRecord{service->get<std::string>(), textList(object, "previous"), textList(object, "applied")};
}

}  // namespace orlune
