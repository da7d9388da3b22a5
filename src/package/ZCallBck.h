#pragma once
// The callback the unzip module calls back on the caller's thread: the record it hands over
// and the routine that turns it into the component's OnProgress and OnMessage events.
#include <cstdint>
#include <string>
#include <string_view>

namespace rovenza {

// What the module reports.
enum class ZipAction : std::int32_t {
    NewFile = 1,         // a member is about to be written (text: its name, fileSize: its size)
    ProgressUpdate = 2,  // another piece of the current member was written
    EndOfBatch = 3,      // all members handled
    Message = 4,         // text with an error code
};

// The callback record.
struct ZCallbackRec {
    void* caller = nullptr;  // the opaque value of the parameter record (the TZipMaster)
    ZipAction action = ZipAction::Message;
    std::int32_t errorCode = 0;  // Message only
    std::int64_t fileSize = 0;   // NewFile only
    std::string text;            // member name (NewFile) or message (Message)
};

// The callback: 0 to go on, -1 to ask the module to stop.
using ZCallbackFunc = std::int32_t (*)(const ZCallbackRec& record);

inline constexpr std::int32_t kZipCallbackGoOn = 0;
inline constexpr std::int32_t kZipCallbackStop = -1;

// The routine the component hands to the module. `record.caller` must be the TZipMaster
// that called the module (a null caller is answered with "go on").
std::int32_t ZCallback(const ZCallbackRec& record);

// A message as OnMessage receives it: when the last character, or the one before it (for a
// text of two or more characters), is a carriage return or a line feed, the text is cut
// before the first of those two positions that holds one.
std::string CutMessageLineEnd(std::string_view text);

}  // namespace rovenza
