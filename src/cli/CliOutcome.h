#pragma once
// How the command line sums up a run: the exit status and the kind of result it stands for,
// from the final message (which stays the family's own) and, where the message alone does not
// tell (a refused image ends some runs with a bare "Error"), the reason the upgrader kept.
#include <optional>
#include <string>
#include <string_view>

#include "ExitCodes.h"
#include "devices/USBDevice.h"

namespace rovenza {

// The final line of a run that stopped because it was interrupted.
inline constexpr std::string_view kMsgInterrupted = "Interrupted";

struct CliOutcome {
    CliExit exit;
    std::string_view kind;  // "success", "package", "no-instrument", ... (as the JSON stream names it)
};

CliOutcome ClassifyRun(const std::string& message, const std::optional<UpgradeReason>& reason, bool stopped);

// The kind's name for an exit status.
std::string_view ExitKindName(CliExit exit);

}  // namespace rovenza
