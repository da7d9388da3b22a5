#pragma once
// The command line's exit status by kind of result. The final message itself is the window's.
namespace rovenza {

enum CliExit : int {
    kExitSuccess = 0,        // "Firmware upgrade successful!"
    kExitOther = 1,          // a result none of the kinds below covers
    kExitUsage = 2,          // bad usage
    kExitPackage = 3,        // package missing or unreadable
    kExitNoInstrument = 4,   // "Instrument is not connected." / nothing found
    kExitWrongFamily = 5,    // "Instrument or FWU file is not ...!" and other packages of another family
    kExitConversation = 6,   // the instrument conversation failed ("Error...", "... cannot be upgraded!")
    kExitInterrupted = 7,    // stopped by Ctrl-C
    kExitLocalFault = 8,     // a local fault after the run (dump or trace not writable)
};

}  // namespace rovenza
