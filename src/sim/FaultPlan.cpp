#include "FaultPlan.h"

namespace rovenza::sim {

namespace {

std::uint32_t Count(std::map<std::string, std::uint32_t, std::less<>>& counts, std::string_view key) {
    auto it = counts.find(key);
    if (it == counts.end()) it = counts.emplace(std::string(key), 0).first;
    return ++it->second;
}

std::string SlotKey(std::string_view request, int slot) { return std::string(request) + "@" + std::to_string(slot); }

}  // namespace

std::optional<FaultRule> FaultPlan::next(Command command) {
    const std::string_view name = CommandName(command);
    std::uint32_t*& count = commandCounts_.at(static_cast<std::size_t>(command));
    if (!count) count = &counts_.try_emplace(std::string(name), 0).first->second;
    ++*count;
    return rules_.empty() ? std::nullopt : match(name, *count);
}

std::optional<FaultRule> FaultPlan::match(std::string_view request, std::uint32_t count) const {
    for (const auto& rule : rules_)
        if (rule.request == request && !rule.slot && (!rule.occurrence || *rule.occurrence == count)) return rule;
    return std::nullopt;
}

std::optional<FaultRule> FaultPlan::next(std::string_view request, std::optional<int> slot) {
    const std::uint32_t n = Count(counts_, request);
    const std::uint32_t inSlot = slot ? Count(counts_, SlotKey(request, *slot)) : 0;
    for (const auto& rule : rules_) {
        if (rule.request != request) continue;
        if (rule.slot && rule.slot != slot) continue;
        const std::uint32_t count = rule.slot ? inSlot : n;
        if (!rule.occurrence || *rule.occurrence == count) return rule;
    }
    return std::nullopt;
}

std::uint32_t FaultPlan::occurrences(std::string_view request) const {
    const auto it = counts_.find(request);
    return it == counts_.end() ? 0 : it->second;
}

std::optional<FaultAction> ParseFaultAction(std::string_view name) {
    for (const auto& [id, text] : kFaultActions)
        if (text == name) return id;
    return std::nullopt;
}

namespace {

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

bool IsBusRequest(std::string_view request) {
    return request == kRequestOpen || request == kRequestReappear || request == kRequestEnumerate;
}

bool ShapesReply(FaultAction action) { return action == FaultAction::Corrupt || action == FaultAction::Short; }

// "open", "reappear" and "enumerate": the same on both generations.
std::optional<std::string> CheckBusRule(const FaultRule& rule) {
    const std::string action = Quoted(ActionName(rule.action));
    if (rule.request == kRequestReappear) {
        if (rule.action == FaultAction::Vanish || rule.action == FaultAction::Never) return std::nullopt;
        return "request \"reappear\" takes the action \"vanish\" or \"never\", not " + action;
    }
    if (rule.request == kRequestEnumerate) {
        if (rule.action == FaultAction::Fail) return std::nullopt;
        return "request \"enumerate\" takes the action \"fail\", not " + action;
    }
    if (ShapesReply(rule.action)) return "request \"open\" has no reply for the action " + action;
    if (rule.action == FaultAction::Busy || rule.action == FaultAction::BadChecksum)
        return "request \"open\" takes \"fail\", \"timeout\", \"vanish\" or \"never\", not " + action;
    return std::nullopt;
}

// A wire command of `commands`.
std::optional<std::string> CheckCommandRule(const FaultRule& rule, std::span<const CommandInfo> commands) {
    for (const auto& info : commands) {
        if (info.name != rule.request) continue;
        if (ShapesReply(rule.action) && info.corruption == Corruption::None)
            return "command " + rule.request + " has no reply for the action " + Quoted(ActionName(rule.action));
        return std::nullopt;
    }
    return "unknown request " + Quoted(rule.request);
}

// A module command code as the bench file gives it: "0x50".
bool IsModuleCommand(std::string_view request) {
    return request.size() == 4 && request.substr(0, 2) == "0x";
}

}  // namespace

std::optional<std::string> CheckFirstGenerationRule(const FaultRule& rule) {
    if (rule.slot) return "\"slot\" applies to module commands only";
    if (rule.action == FaultAction::Busy || rule.action == FaultAction::BadChecksum)
        return "action " + Quoted(ActionName(rule.action)) + " applies to second-generation instruments only";
    if (IsBusRequest(rule.request)) return CheckBusRule(rule);
    return CheckCommandRule(rule, kFirstGenerationCommands);
}

std::optional<std::string> CheckSecondGenerationRule(const FaultRule& rule, bool moduleSlots) {
    if (IsBusRequest(rule.request)) return CheckBusRule(rule);
    if (IsModuleCommand(rule.request)) {
        if (!moduleSlots) return "module command " + rule.request + " applies to a Zenara instrument only";
        if (rule.action == FaultAction::Busy) return "action \"busy\" applies to GET_STATUS and FLASH_ERASE only";
        if (rule.action == FaultAction::Vanish || rule.action == FaultAction::Never)
            return "module command " + rule.request + " takes \"fail\", \"corrupt\", \"short\", \"timeout\" or \"badchecksum\", not " +
                   Quoted(ActionName(rule.action));
        if (rule.action == FaultAction::BadChecksum && rule.request != "0x50")
            return "action \"badchecksum\" applies to module command 0x50 only";
        if (rule.on == FaultSide::Read && rule.action != FaultAction::Timeout && rule.action != FaultAction::Corrupt)
            return "on a module command \"on\": \"read\" takes \"timeout\" or \"corrupt\" only";
        if (rule.slot && (*rule.slot < 1 || *rule.slot > kModuleSlots)) return "\"slot\" must be from 1 to 8";
        return std::nullopt;
    }
    if (rule.slot) return "\"slot\" applies to module commands only";
    if (rule.action == FaultAction::BadChecksum) return "action \"badchecksum\" applies to module commands only";
    if (rule.action == FaultAction::Busy && rule.request != CommandName(Command::GetStatus) &&
        rule.request != CommandName(Command::FlashErase))
        return "action \"busy\" applies to GET_STATUS and FLASH_ERASE only";
    return CheckCommandRule(rule, kSecondGenerationCommands);
}

}  // namespace rovenza::sim
