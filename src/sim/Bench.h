#pragma once
// The simulated driver backend: both driver generations' device paths, enumeration and
// requests, carried to the instrument models; handles and the epochs they were opened in; the
// USB latency; a recorder of every driver call; and the instruments' fault plans.
//
// Requests:
//   write  0x222051 (first generation), 0x22E141 (second)  input: the 8-byte header
//          {Pipe 0, Parameter}, or for the first generation also the 4-byte Pipe word 0; the
//          output buffer is delivered to the instrument, which recognises its command and acts
//          on it. bytesReturned is 0.
//   read   0x22204E, 0x22E146  input: the 8-byte header {Pipe 1, Parameter}; returns the
//          instrument's pending reply cut to the buffer size. With no reply pending it waits
//          Parameter ms (bench time) and fails with 1460; a reply that becomes ready within
//          Parameter ms is waited for.
//   reset  0x222031 (first generation only)  input: the 4-byte pipe number (0 or 1); pipe 1
//          drops a pending reply.
//   An input of the wrong size or pipe fails with 87, an unknown handle with 6, a handle whose
//   instrument has left the bus since it was opened with 1167, a control code of the other
//   generation (or none of the five) with 1, a second-generation code on a handle opened
//   without read and write access with 5.
// Opening: a listed path (case-insensitive) or \\.\vkusb-0 (the first first-generation
//   instrument on the bus); otherwise 2. Share modes are honoured among live handles (32): the
//   second generation's host opens with share 0, so its instruments open once at a time.
//   Closing an instrument's last live handle tells the instrument (a second-generation one
//   restarts then if its EEPROM was rewritten).
// Every write, read and reset first waits the bench's USB latency (BenchSpec::latencyUs).
// The host waits on hostClock(): the bench's clock, with every sleep recorded (Waits.h).
// Thread-safety: one mutex guards the bench, so requests may come from several threads at once
// (instruments upgraded in parallel, each thread on handles of its own). On the real clock no
// bench-side wait (the latency, a reply not ready yet, a time-out) is waited out holding it, so
// the waits of requests to different instruments overlap; in virtual time a wait takes no time
// and the lock is kept. A handle is used by one thread at a time. The recorder and the
// instruments are for reading while no request runs. The host's clock and the wait recorder take
// no part in the lock: a sleep never holds the bench.
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DeviceInterfaces.h"
#include "platform/DriverPort.h"
#include "sim/BenchSpec.h"
#include "sim/Instrument.h"
#include "sim/Recorder.h"
#include "sim/VirtualClock.h"
#include "sim/Waits.h"

namespace rovenza::sim {

inline constexpr std::uint32_t kErrorInvalidFunction = 1;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kFileShareRead = 0x00000001u;

class Bench final : public DriverPort, public DeviceInterfaces {
public:
    Bench(Clock& clock, const BenchSpec& setup, const RecorderSetup& recording = {});
    ~Bench() override;

    Handle open(const std::string& path, std::uint32_t access, std::uint32_t share, std::uint32_t& error) override;
    bool ioControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                   std::uint32_t outSize, std::uint32_t& bytesReturned, std::uint32_t& error) override;
    void close(Handle handle) override;
    bool enumerate(const InterfaceClassGuid& cls, std::vector<DeviceInterfaceEntry>& out) override;

    const Recorder& recorder() const { return recorder_; }
    std::int64_t nowUs();
    // The clock the host is given: every sleep on it is recorded in waits().
    Clock& hostClock() { return hostClock_; }
    const WaitRecorder& waits() const { return waits_; }
    // Bench time the bench itself has waited inside requests so far (latency, replies that take
    // time, a bridge poll's microframe): time the host sits out beside its own waits.
    std::int64_t benchWaitUs() const { return time_.askedUs(); }
    // nullptr when no instrument has that serial.
    Instrument* find(std::string_view serial);
    const std::vector<std::unique_ptr<Instrument>>& instruments() const { return instruments_; }
    std::size_t openHandles() const;

    // Changes made from outside while no request runs (tests, the front end).
    void addFault(std::string_view serial, FaultRule rule);
    void setPresent(std::string_view serial, bool present);
    // Brings every restarting instrument whose time has come back on the bus.
    void update();

    // requests.log (see Recorder::writeLog), waits.log and waits.txt (WaitRecorder) and one
    // folder per instrument; throws
    // std::runtime_error on I/O errors.
    void dump(const std::filesystem::path& dir);

private:
    struct OpenHandle {
        Instrument* instrument;
        std::uint32_t epoch;
        std::string path;
        std::uint32_t access;
        std::uint32_t share;
        Command lastCommand = Command::None;
        std::optional<FaultRule> readFault;  // a fault that strikes the read of the last command
    };
    struct Request {
        const std::uint8_t* in;
        std::uint32_t inSize;
        std::uint8_t* out;
        std::uint32_t outSize;
        std::uint32_t& bytesReturned;
        std::uint32_t& error;
        std::unique_lock<std::mutex>& lock;  // the bench's, held by the request
        // What the call did, for its record (made only when the recorder wants records).
        Command command = Command::None;  // recognised; a read: the command of its write
        bool sent = false;                // the output buffer was carried to the instrument
        std::uint32_t replyLimit = 0;     // a read: the caller's buffer size
        std::string_view fault{};         // the fault action that shaped the call
    };

    Instrument& require(std::string_view serial);
    void updateLocked(std::int64_t nowUs);
    Instrument* resolvePath(const std::string& path);
    bool alive(const OpenHandle& handle) const;
    bool sharingAllows(const Instrument& instrument, std::uint32_t access, std::uint32_t share) const;
    bool fail(Request& request, std::uint32_t code);
    // Waits `us` of bench time (PeriodEnd: until the end of the `us`-long period of bench time it
    // is in): on the real clock with the bench unlocked meanwhile; a wait in virtual time takes no
    // time and keeps the lock, so a request's recorded times are its own.
    enum class WaitEnd { After, PeriodEnd };
    void wait(Request& request, std::int64_t us, WaitEnd end = WaitEnd::After);
    bool dispatch(OpenHandle& handle, std::uint32_t code, Request& request);
    bool writeRequest(OpenHandle& handle, Request& request);
    bool readRequest(OpenHandle& handle, Request& request);
    bool resetRequest(OpenHandle& handle, Request& request);
    // The recorder's count of the call of control code `code` carrying `command`.
    std::size_t& tallyOf(std::uint32_t code, Command command);

    mutable std::mutex mutex_;
    BenchTime time_;
    bool realTime_;  // the clock is not a VirtualClock
    WaitRecorder waits_;
    RecordingClock hostClock_{time_, waits_};
    std::uint32_t latencyUs_;
    std::vector<std::unique_ptr<Instrument>> instruments_;
    std::map<Handle, OpenHandle> handles_;
    Handle nextHandle_ = 0x1000;
    Recorder recorder_;
    // The counts tallyOf() has found, by call and command: a recorder that keeps no records
    // still counts every request, millions of them in a long run.
    std::array<std::array<std::size_t*, kCommandCount>, 6> tallies_{};
};

}  // namespace rovenza::sim
