#include "CliOutcome.h"

#include "devices/TERVADevice.h"

namespace rovenza {

std::string_view ExitKindName(CliExit exit) {
    switch (exit) {
        case kExitSuccess: return "success";
        case kExitOther: return "other";
        case kExitUsage: return "usage";
        case kExitPackage: return "package";
        case kExitNoInstrument: return "no-instrument";
        case kExitWrongFamily: return "wrong-family";
        case kExitConversation: return "conversation";
        case kExitInterrupted: return "interrupted";
        case kExitLocalFault: return "local-fault";
    }
    return "other";
}

CliOutcome ClassifyRun(const std::string& message, const std::optional<UpgradeReason>& reason, bool stopped) {
    const auto outcome = [](CliExit exit) { return CliOutcome{exit, ExitKindName(exit)}; };
    if (stopped) return outcome(kExitInterrupted);
    if (message == kMsgSuccess) return outcome(kExitSuccess);
    // The package could not be unpacked, or lacks the images the family reads whole first.
    if (message == kMsgNoPackage || message == kMsgCorruptedFile) return outcome(kExitPackage);
    if (message == kMsgNotConnected) return outcome(kExitNoInstrument);
    if (message.rfind("Instrument or FWU file is not ", 0) == 0) return outcome(kExitWrongFamily);
    const bool failed = message.rfind(kMsgError, 0) == 0 || message.find(" cannot be upgraded!") != std::string::npos;
    if (!failed) return outcome(kExitOther);
    // A refused image ends the run before the instrument is written, with the family's
    // failure text; the reason tells it from a failed conversation.
    return outcome(reason && reason->kind == ReasonKind::Package ? kExitPackage : kExitConversation);
}

}  // namespace rovenza
