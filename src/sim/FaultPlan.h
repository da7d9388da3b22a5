#pragma once
// Fault rules of one instrument and the occurrence counts they are matched against.
//
// A rule names a request (a recognised command such as "READ_FLASH", or "open", "reappear",
// "enumerate"), optionally the occurrence of that request on this instrument (from 1; without
// it the rule applies every time) and what happens. For a command, one occurrence is one
// write request carrying it; `on` says whether "fail", "timeout" and "vanish" strike that write
// request or the read request that follows it. "corrupt" and "short" always shape the command's
// effect or reply.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DriverPort.h"
#include "sim/BenchTables.h"

namespace rovenza::sim {

enum class FaultSide : std::uint8_t { Write, Read };

struct FaultRule {
    std::string request;
    std::optional<std::uint32_t> occurrence{};  // from 1; empty: every time
    FaultAction action = FaultAction::Fail;
    std::uint32_t code = kErrorGenFailure;   // "fail": the system error code
    FaultSide on = FaultSide::Write;
    std::optional<std::uint32_t> length{};   // "short": bytes kept (default: half the reply)
    std::optional<int> slot{};               // module commands: the slot (1-8) struck; empty: every slot
    std::optional<std::uint32_t> byte{};     // "corrupt": the reply byte changed, or for a command that
                                             // stores, the byte of its row or block (default: each
                                             // command's own)
};

class FaultPlan {
public:
    FaultPlan() = default;
    FaultPlan(const FaultPlan&) = delete;  // it points into its own counts
    FaultPlan& operator=(const FaultPlan&) = delete;

    void add(FaultRule rule) { rules_.push_back(std::move(rule)); }
    const std::vector<FaultRule>& rules() const { return rules_; }

    // Counts one more occurrence of `request` and returns the first rule that applies to it.
    // A module command also counts per slot (1-8): a rule with a slot matches that slot's
    // occurrences, one without matches the instrument's.
    std::optional<FaultRule> next(std::string_view request, std::optional<int> slot = std::nullopt);
    // The same for a wire command (the request of its name).
    std::optional<FaultRule> next(Command command);
    std::uint32_t occurrences(std::string_view request) const;
    // Every request counted so far and how often; a module command also as "0x50@3" per slot.
    const std::map<std::string, std::uint32_t, std::less<>>& counts() const { return counts_; }

private:
    std::optional<FaultRule> match(std::string_view request, std::uint32_t count) const;

    std::vector<FaultRule> rules_;
    std::map<std::string, std::uint32_t, std::less<>> counts_;
    // Each wire command's entry in counts_, once it has one: a write request counts its
    // command, and a long run makes millions of them.
    std::array<std::uint32_t*, kCommandCount> commandCounts_{};
};

// Check that a rule can take effect on an instrument of the generation; return the reason it
// cannot, or nothing. The second generation takes module commands ("0x50") only when it has
// module slots, "busy" on GET_STATUS (that status reports Busy) and FLASH_ERASE (that erase
// never ends); module commands take "fail", "corrupt", "short", "timeout" and, on 0x50,
// "badchecksum"; "on": "read" only with "timeout" and "corrupt"; "slot" only on module
// commands.
std::optional<std::string> CheckFirstGenerationRule(const FaultRule& rule);
std::optional<std::string> CheckSecondGenerationRule(const FaultRule& rule, bool moduleSlots);

std::optional<FaultAction> ParseFaultAction(std::string_view name);

}  // namespace rovenza::sim
