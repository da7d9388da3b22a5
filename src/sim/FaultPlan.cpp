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

std::optional<std::string> CheckFirstGenerationRule(const FaultRule& rule) {
    const std::string action(ActionName(rule.action));
    if (rule.action == FaultAction::Busy || rule.action == FaultAction::BadChecksum)
        return "action \"" + action + "\" applies to second-generation instruments only";
    if (rule.request == kRequestReappear) {
        if (rule.action == FaultAction::Vanish || rule.action == FaultAction::Never) return std::nullopt;
        return "request \"reappear\" takes the action \"vanish\" or \"never\", not \"" + action + "\"";
    }
    if (rule.request == kRequestEnumerate) {
        if (rule.action == FaultAction::Fail) return std::nullopt;
        return "request \"enumerate\" takes the action \"fail\", not \"" + action + "\"";
    }
    const bool shapesReply = rule.action == FaultAction::Corrupt || rule.action == FaultAction::Short;
    if (rule.request == kRequestOpen) {
        if (shapesReply) return "request \"open\" has no reply for the action \"" + action + "\"";
        return std::nullopt;
    }
    for (const auto& info : kCommands) {
        if (info.id == Command::None || info.name != rule.request) continue;
        if (shapesReply && info.corruption == Corruption::None)
            return "command " + rule.request + " has no reply for the action \"" + action + "\"";
        return std::nullopt;
    }
    return "unknown request \"" + rule.request + "\"";
}

}  // namespace rovenza::sim
