#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/tool_runner.h"
#include "firewall/firewall_rules.h"

namespace orlune {

inline constexpr std::string_view kFirewallRecordName = "firewall.json";
inline constexpr const char* kNftTool = "/usr/sbin/nft";

// The block as the service uses it.
class FirewallControl {
public:
    virtual ~FirewallControl() = default;
    // Loads our table for `policy`, replacing the previous one in one step. Throws FirewallError
    // (notRaised); the previous table, if any, then stays in place.
    virtual void raise(const FirewallPolicy& policy) = 0;
    // Removes our table if one may be loaded. Throws FirewallError (notLifted) and keeps the
    // record when that fails, so a later lift tries again.
    virtual void lift() = 0;
};

// Our nftables table, loaded with `nft -f -` through the tool runner. A record file is written
// before the first load and removed only after the table is gone, so a table left by a crash is
// removed at the next start (lift() then) or stop, and no other table is ever touched.
class FirewallBlock final : public FirewallControl {
public:
    FirewallBlock(ToolRunner& runner, std::filesystem::path recordPath, std::string tool = kNftTool)
        : runner_(runner), recordPath_(std::move(recordPath)), tool_(std::move(tool)) {}

    void raise(const FirewallPolicy& policy) override;
    void lift() override;

    bool recorded() const;
    const std::filesystem::path& recordPath() const { return recordPath_; }

private:
    ToolRunner& runner_;
    std::filesystem::path recordPath_;
    std::string tool_;
};

}  // namespace orlune
