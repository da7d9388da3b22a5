#pragma once
// Every driver call the bench receives, in order: when, on which path, which call, the command
// the bench recognised, the input record, the bytes sent and received, and the result.
//
// Where the records go is chosen when the recorder is made (RecorderSetup):
//   - kept in memory (the default): requests(), select() and last() see every call. Tests use
//     this; a run that writes a 16 MiB flash image makes about two million calls, so front
//     ends do not.
//   - streamed: each call's requests.log line is written to a file as the call ends, and
//     nothing else is kept; memory stays bounded however long the run (the file stream's
//     buffer and one counter per call and command name).
//   - both, or neither. With neither, the bench makes no records of its read, write and reset
//     requests and only counts them (tally()).
// count() and total() work in every mode. writeLog(file) gives the same requests.log whichever
// mode made it.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
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
    std::uint32_t replyLimit = 0;  // a read: the bytes the caller would take (its buffer's size)
    std::uint32_t result = 0;     // 0 for success, else the system error code
    std::string fault;            // the fault action that shaped this call, empty if none

    std::int64_t timeMs() const { return timeUs / 1000; }
    std::int64_t endUs() const { return timeUs + durationUs; }
};

struct RecorderSetup {
    bool keep = true;                           // keep every record (and every wait) in memory
    std::optional<std::filesystem::path> log{}; // stream requests.log lines into this file
    std::optional<std::filesystem::path> waitLog{};  // stream waits.log lines into this file (Waits.h)
};

class Recorder {
public:
    Recorder() = default;
    // Creates the log file (and its folder); throws std::runtime_error when it cannot.
    explicit Recorder(const RecorderSetup& setup);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    void add(RecordedRequest request);
    // Whether add() needs whole records: they are kept or logged. When they are not, a call's
    // name and command are all there is to record: tally() counts them as add() would, given
    // the count of that call and command (counter(); it stays in place while the recorder
    // lives, so a caller can keep it).
    bool wantsRecords() const { return keep_ || log_ != nullptr; }
    std::size_t& counter(std::string_view call, std::string_view command);
    void tally(std::size_t& counter) {
        ++total_;
        ++counter;
    }

    // Kept records only (empty when the recorder keeps none).
    const std::vector<RecordedRequest>& requests() const { return requests_; }
    // Queries on the kept records. An empty `call` or `command` matches any.
    std::vector<RecordedRequest> select(std::string_view call, std::string_view command = {}) const;
    // The last matching kept record, or nullptr.
    const RecordedRequest* last(std::string_view call, std::string_view command = {}) const;
    // Every call recorded, kept or not.
    std::size_t count(std::string_view call, std::string_view command = {}) const;
    std::size_t total() const { return total_; }

    // requests.log: one line per call, seven tab-separated columns. Into `file`: the streamed
    // log is flushed (and copied when `file` is another file); without one the kept records
    // are written. Throws std::runtime_error on I/O errors, the stream's included.
    void writeLog(const std::filesystem::path& file);
    // The kept records' lines.
    void writeLog(std::ostream& out) const;

private:
    bool keep_ = true;
    std::vector<RecordedRequest> requests_;
    std::optional<std::filesystem::path> logFile_;
    std::unique_ptr<std::ofstream> log_;
    std::map<std::pair<std::string, std::string>, std::size_t> counts_;  // by call and command
    std::size_t total_ = 0;
};

// "1234.567": bench time in milliseconds with three decimals.
std::string FormatTimeMs(std::int64_t us);
// Upper-case hexadecimal pairs without separators.
std::string HexBytes(const Bytes& bytes);
// One line of requests.log, without the line end.
std::string LogLine(const RecordedRequest& request);

}  // namespace rovenza::sim
