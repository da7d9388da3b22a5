#pragma once
// The unzip module behind TZipMaster::Extract: one entry point, one parameter record, reports
// through the callback of ZCallBck. Built on libzip (stored and deflated members, and any other
// method libzip can decompress).
//
// Every member is written flat into the base folder under the last component of its stored
// name, first under a temporary name and renamed into place once its size and CRC-32 check out.
// Folder entries are skipped. A member that cannot be extracted fails the whole call with
// EZipExtractError, after a Message callback with the same text; its temporary file is removed.
// Refused before anything is written: refused names, two members on one name, encrypted
// members, unknown methods, declared sizes over kMaxMemberSize (one member's or all together),
// and a central directory that does not list the members of the local headers.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "ZCallBck.h"

namespace rovenza {

// An extraction that did not complete: the text names the member (where there is one) and the
// reason.
class EZipExtractError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The largest declared uncompressed size a member may have, and all members together: no
// extraction writes more than this into the base folder.
inline constexpr std::uint64_t kMaxMemberSize = std::uint64_t{256} * 1024 * 1024;

// The parameter record.
struct UnzParams {
    void* caller = nullptr;            // handed back in every callback record
    ZCallbackFunc callback = nullptr;  // may be null: nothing is reported, nothing stops the call
    bool trace = false;          // as verbose
    bool verbose = false;        // a Message (code 0) for every member written
    // The component empties the work folder before every extraction, so "freshen" and "update"
    // (which compare with files already there) are carried but change nothing; stored folders
    // are never recreated, whatever "dir names" says.
    bool extrUpdate = false;
    bool extrFreshen = false;
    bool extrDirNames = false;
    bool extrOverWrite = false;  // a member replaces a file of its name written before it
    std::filesystem::path archive;
    std::filesystem::path baseDir;          // must exist
    std::vector<std::string> memberNames;   // stored names to extract; empty means all
    // The names of the archive's local headers as a walk over them found them (TZipMaster's):
    // the central directory must list the same members, in any order, or the archive holds
    // members that overlap or hide one another and is refused. Not checked when not given.
    std::optional<std::vector<std::string>> localNames;
};

// Extracts per `params`; returns the number of members written. Throws EZipExtractError.
std::int32_t UnzDllExec(const UnzParams& params);

// Where a stored member name leads.
struct MemberTarget {
    enum class Kind { File, Folder, Refused };
    Kind kind = Kind::Refused;
    std::string name;  // File: the name in the base folder; Refused: the reason
};

// A stored name's output: a drive prefix ("C:") is removed, the last component after '/' and
// '\' is kept and given the spelling of the package file table when it matches one without
// regard to case. A name ending in a separator is a folder entry. Refused: any name holding a
// NUL byte; a last component that is empty, "." or "..", holds a ':', ends in a dot or a blank,
// or is a Windows device name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, any case, with or
// without an extension).
MemberTarget ResolveMemberName(std::string_view storedName);

// Why the members stored under `storedNames` cannot all be written flat into one folder: the
// first name ResolveMemberName refuses, or two members whose output names are equal without
// regard to ASCII case ("Member \"...\": ..."). Empty when they can.
std::string MemberNamesRefusal(const std::vector<std::string>& storedNames);

// CRC-32 (the zip polynomial) of `size` bytes continuing from `crc` (0 to start).
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size);

}  // namespace rovenza
