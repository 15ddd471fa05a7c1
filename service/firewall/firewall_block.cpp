#include "firewall/firewall_block.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

#include <nlohmann/json.hpp>

#include "core/file_writer.h"
#include "firewall/firewall_error.h"

namespace orlune {

bool FirewallBlock::recorded() const {
    std::error_code error;
    return std::filesystem::symlink_status(recordPath_, error).type() != std::filesystem::file_type::not_found;
}

void FirewallBlock::raise(const FirewallPolicy& policy) {
    // Built first: rules that cannot be written change nothing.
    const std::string ruleset = firewallRuleset(policy);
    try {
        if (!recorded()) {
            save(nlohmann::json{{"family", kFirewallFamily}, {"table", kFirewallTable}}, recordPath_);
        }
        runner_.run(tool_, {"-f", "-"}, ruleset);
    } catch (const FirewallError&) {
        throw;
    } catch (const std::exception&) {
        // The record stays: nft may have loaded the table before it failed, and the next lift
        // removes it either way.
        throw FirewallError::notRaised();
    }
}

void FirewallBlock::lift() {
    if (!recorded()) return;
    try {
        runner_.run(tool_, {"-f", "-"}, firewallRemoval());
    } catch (const std::exception&) {
        throw FirewallError::notLifted();
    }
    if (::unlink(recordPath_.c_str()) != 0 && errno != ENOENT) throw FirewallError::notLifted();
}

}  // namespace orlune
