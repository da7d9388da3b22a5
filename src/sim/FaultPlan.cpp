#include "FaultPlan.h"

namespace rovenza::sim {

std::optional<FaultRule> FaultPlan::next(std::string_view request) {
    auto it = counts_.find(request);
    if (it == counts_.end()) it = counts_.emplace(std::string(request), 0).first;
    const std::uint32_t n = ++it->second;
    for (const auto& rule : rules_)
        if (rule.request == request && (!rule.occurrence || *rule.occurrence == n)) return rule;
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
        return std::nullopt;
    }
    if (rule.action == FaultAction::BadChecksum) return "action \"badchecksum\" applies to module commands only";
    if (rule.action == FaultAction::Busy && rule.request != CommandName(Command::GetStatus) &&
        rule.request != CommandName(Command::FlashErase))
        return "action \"busy\" applies to GET_STATUS and FLASH_ERASE only";
    return CheckCommandRule(rule, kSecondGenerationCommands);
}

}  // namespace rovenza::sim
