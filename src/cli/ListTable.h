#pragma once
// --list and --select: the attached instruments of both generations as one list, shown as a
// table or as JSON, and the check of a selection against it.
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "platform/Context.h"

namespace rovenza {

struct AttachedInstrument {
    std::string family;  // the family's list text; empty when the instrument cannot tell it (a
                         // first-generation boot loader, an identifier no family shows)
    int generation = 1;
    std::string pid;     // the product identifier of its device path
    std::string mode;    // "firmware" or "bootloader"; "not openable" for a second-generation
                         // instrument that could not be opened to read its serial number
    std::string serial;  // first generation: of its device path; second: of its identity record
    std::string path;
};

// Every instrument the walks list, or those of one generation (1 or 2; 0: both). A
// second-generation instrument is opened, set to its mode and asked for its identity record, as
// the selection dialog would.
std::vector<AttachedInstrument> ListAttached(const Context& ctx, int generation = 0);

// A table with a heading (family, serial, mode, generation, path), or "No instruments found.".
void WriteInstrumentTable(const std::vector<AttachedInstrument>& instruments, std::ostream& out);
// A JSON array with one object per instrument: family (null when unknown), generation, pid,
// mode, serial, path.
std::string InstrumentsJson(const std::vector<AttachedInstrument>& instruments);

// Checks every serial number of `select` against the attached instruments of `generation`
// (ASCII case ignored). Returns the complaint, naming those attached, or nothing.
std::optional<std::string> CheckSelection(const std::vector<AttachedInstrument>& attached, int generation,
                                          const std::vector<std::string>& select);

}  // namespace rovenza
