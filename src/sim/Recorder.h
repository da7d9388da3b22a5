#pragma once
// Every driver call the bench receives, in order: when, on which path, which call, the command
// the bench recognised, the input record, the bytes sent and received, and the result.
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DriverPort.h"

namespace rovenza::sim {

using Bytes = std::vector<std::uint8_t>;

struct RecordedRequest {
    std::int64_t timeUs = 0;      // bench time at the start of the call
    std::int64_t durationUs = 0;  // bench time the call took (waits, latency)
    std::string path;             // device path of the handle, or the path opened
    std::string serial;           // instrument the call reached, empty if none
    std::string call;             // open, close, write, read, reset, open2, close2, write2, read2, ioctl
    std::string command = "-";    // recognised command; a read carries the command of its write
    std::uint32_t controlCode = 0;  // 0 for open and close
    Handle handle = kInvalidHandle;
    std::uint32_t access = 0;     // open only
    std::uint32_t share = 0;      // open only
    Bytes input;                  // the input record
    Bytes sent;                   // bytes carried to the instrument
    Bytes received;               // bytes returned to the caller
    std::uint32_t result = 0;     // 0 for success, else the system error code
    std::string fault;            // the fault action that shaped this call, empty if none

    std::int64_t timeMs() const { return timeUs / 1000; }
    std::int64_t endUs() const { return timeUs + durationUs; }
};

class Recorder {
public:
    void add(RecordedRequest request) { requests_.push_back(std::move(request)); }
    const std::vector<RecordedRequest>& requests() const { return requests_; }

    // Queries. An empty `call` or `command` matches any.
    std::vector<RecordedRequest> select(std::string_view call, std::string_view command = {}) const;
    std::size_t count(std::string_view call, std::string_view command = {}) const;
    // The last matching request, or nullptr.
    const RecordedRequest* last(std::string_view call, std::string_view command = {}) const;

    // requests.log: one line per call, seven tab-separated columns.
    void writeLog(std::ostream& out) const;

private:
    std::vector<RecordedRequest> requests_;
};

// "1234.567": bench time in milliseconds with three decimals.
std::string FormatTimeMs(std::int64_t us);
// Upper-case hexadecimal pairs without separators.
std::string HexBytes(const Bytes& bytes);
// One line of requests.log, without the line end.
std::string LogLine(const RecordedRequest& request);

}  // namespace rovenza::sim
