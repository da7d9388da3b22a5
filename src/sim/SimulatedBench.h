#pragma once
// The simulated instrument bench: one object that owns the clock, the driver backend and the
// instrument models. Front ends and tests start here.
//
//   auto bench = SimulatedBench::Create({.benchFile = path});   // throws BenchFileError
//   SimulatedBench bench(DefaultBench());                       // or from a BenchSpec
//   Context ctx{bench.driver(), bench.interfaces(), bench.clock(), debug, op, folder};
//   ... run an upgrade ...
//   bench.requests();                       // every driver call, in order (RecordedRequest)
//   bench.count("write", "READ_FLASH");     // 960; select()/last() filter the same way
//   bench.instrument("PC000001").program(); // 32 KiB as std::vector<std::uint8_t>; also
//                                           // eeprom(), fpga(), can(), mode(), pid()
//   bench.addFault("PC000001", {.request = "READ_FLASH", .occurrence = 3,
//                               .action = FaultAction::Fail, .on = FaultSide::Read});
//   bench.setPresent("PC000001", false);    // unplug; true plugs it back in
//   bench.secondGen("TV000001").eeprom();   // 64 KiB; also flash(), mode(), fpgaPower(), busy()
//   bench.waits();                          // every sleep on clock(), apart from the requests
//                                           // (RecordedWait: start, length asked, time taken);
//                                           // waitTotals() sums them
//   bench.dump(dir);                        // requests.log, waits.log, waits.txt + one folder
//                                           // per instrument
//
// Recording: a bench built from a BenchSpec keeps every request and every wait in memory for
// the queries above. Front ends pass BenchOptions::keepRequests = false and requestLog and
// waitLog files instead, so that a long run streams requests.log and waits.log and keeps
// nothing but the wait totals per length (Recorder.h, Waits.h).
//
// Time: "virtual" (default) runs on a VirtualClock that starts at 0 and advances only by
// sleeps and the bench's own waits, so tests assert exact times; "real" runs on the system
// clock (SystemClock: sleeps and the bench's waits end at their deadlines, to the
// microsecond). Recorded times are microseconds since the bench was built.
//
// Instruments (first generation, see PicInstrument.h for the wire behaviour):
//   - listed under {012AD3CE-...} as \\?\usb#vid_1234&pid_<pid>#<serial>#{012ad3ce-...}, pid
//     0dae (IRIG clock), 0dad (ULMO), 0db0 (power controller) in firmware, 0dac in the boot
//     loader; friendly name: the family's list text, or "USB Boot Loader".
//   - \\.\vkusb-0 opens the first first-generation instrument on the bus, in bench-file order.
//   - after GO_BOOTLOADER it is off the bus for restartMs (2500), after BOOT_RESET for
//     bootResetMs (3000), after the IRIG clock's final reset for fpgaResetMs (3000); handles
//     opened before die (1167).
// Second generation ("Velkaro USB" 0e10, "VKUSB Zenara - Modules" 0e11, class {9FC19CC8-...},
//   see SecondGenInstrument.h for the wire behaviour):
//   - listed as \\?\usb#vid_1234&pid_<pid>#<serial>#{9fc19cc8-...}; the host opens it with read
//     and write access and no sharing, so a second open fails with 32 while a handle is live.
//   - after MEM_WRITE changed its EEPROM, closing its handle restarts it: off the bus for
//     restartMs (2500), handles opened before die (1167).
//   - FLASH_ERASE keeps it busy for eraseMs (6000).
//   - Zenara: the I2C bridge at 0x3F answers word frames i2cLatencyUs (700) after the
//     I2C_WRITE; eight slots of amplifier modules from `modules`, gated by the slot mask
//     (slotMask, 0 at the start); see ModuleBridge.h.
//     bench.secondGen("ZN000001").bridge()->modules()[0]->flash();  // also typeCode(),
//                                                                    // programming()
//
// Latency: every write, read and reset request waits latencyUs (500) of bench time first, so
// one exchange costs 1 ms and polling loops end in bench time. Tests that count waits set 0. With
// a latency below 125 us an I2C_POLL still ends with its USB microframe (125 us of bench time
// counted from the bench's start). The time the bench waits inside requests is summed in
// benchWaitUs(), a poll counting as its whole microframe.
//
// Faults (FaultPlan.h): per instrument, by request name and occurrence.
//   fail     the request fails with `code` (default 31): the write request carrying the command,
//            or with on=read the read after it (the command then took effect).
//   timeout  that request waits its Parameter and fails with 1460 (on=write: the command is
//            lost; on=read: it took effect, its reply is lost).
//   vanish   the instrument leaves the bus at that request (1167) until setPresent(serial, true).
//   never    the request goes through, but the instrument does not come back from its next
//            restart (until setPresent(serial, true)).
//   corrupt  READ_FLASH / FPGA_READ: one data byte of the reply differs (memory stays right);
//            WRITE_FLASH: one bit of the row is cleared in flash (a repeat cannot restore it);
//            FPGA_WRITE: the store keeps one wrong byte; acknowledgement replies (ERASE_FLASH,
//            WRITE_EEDATA, CAN_*): byte 0 differs; QUERY_NAME: the first name character.
//            Second generation: MEM_READ / FLASH_READ: the first data byte differs; MEM_WRITE:
//            the EEPROM keeps one wrong byte; FLASH_WRITE: one bit is cleared in flash (the echo
//            shows it); GET_STATUS: the Busy byte; acknowledgements: their one byte.
//   short    the reply is cut to `length` bytes (default half of it; 0 allowed).
//   busy     second generation: on GET_STATUS that reply reports Busy (every time: busy
//            forever, while the erase itself ends); on FLASH_ERASE that erase never ends
//            (Busy stays set, nothing is erased, writes are refused) until a restart.
//   open     fail (code), timeout (1460), vanish (2, then gone), never.
//   reappear vanish / never: the instrument stays away after that restart.
//   enumerate fail: the instrument is listed with an empty path and detailError = code.
//   module commands ("0x50", "0xA7", ...; Zenara; `slot` 1-8 strikes one slot and counts
//            there): fail (status = code), corrupt (no A5 mark; on=read: a count of 9),
//            short, timeout (no answer; on=read: the bridge never answers), badchecksum
//            (0x50: a wrong group checksum). See ModuleBridge.h.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.h"
#include "platform/DeviceInterfaces.h"
#include "platform/DriverPort.h"
#include "sim/Bench.h"
#include "sim/BenchFile.h"
#include "sim/BenchSpec.h"
#include "sim/PicInstrument.h"
#include "sim/SecondGenInstrument.h"
#include "sim/VirtualClock.h"

namespace rovenza::sim {

struct BenchOptions {
    std::optional<std::filesystem::path> benchFile{};  // none: DefaultBench()
    std::string defaultClock = "virtual";            // when the file names no clock
    double speed = 0;                                // virtual clock: see VirtualClock::setSpeed
    bool keepRequests = true;                        // keep every request for the queries
    std::optional<std::filesystem::path> requestLog{};  // stream requests.log into this file
    std::optional<std::filesystem::path> waitLog{};     // stream waits.log into this file
};

class SimulatedBench {
public:
    // Throws BenchFileError for an unusable bench file.
    static std::unique_ptr<SimulatedBench> Create(const BenchOptions& options);
    explicit SimulatedBench(const BenchSpec& setup, const RecorderSetup& recording = {});
    ~SimulatedBench();
    SimulatedBench(const SimulatedBench&) = delete;
    SimulatedBench& operator=(const SimulatedBench&) = delete;

    DriverPort& driver() { return *bench_; }
    DeviceInterfaces& interfaces() { return *bench_; }
    // The host's clock: the bench's clock, every sleep recorded in waits().
    Clock& clock() { return bench_->hostClock(); }
    // The VirtualClock, or nullptr on the real clock.
    VirtualClock* virtualClock() { return virtual_; }
    Bench& bench() { return *bench_; }

    std::int64_t nowUs() { return bench_->nowUs(); }
    std::int64_t nowMs() { return nowUs() / 1000; }

    // The host's waits (every sleep on clock()), apart from the requests.
    std::vector<RecordedWait> waits() const { return bench_->waits().waits(); }
    WaitTotals waitTotals() const { return bench_->waits().totals(); }
    // Bench time the bench itself waited inside requests (Bench::benchWaitUs).
    std::int64_t benchWaitUs() const { return bench_->benchWaitUs(); }

    // Kept requests (every one unless the bench was made not to keep them).
    const std::vector<RecordedRequest>& requests() const { return bench_->recorder().requests(); }
    std::vector<RecordedRequest> select(std::string_view call, std::string_view command = {}) const {
        return bench_->recorder().select(call, command);
    }
    std::size_t count(std::string_view call, std::string_view command = {}) const {
        return bench_->recorder().count(call, command);
    }
    const RecordedRequest* last(std::string_view call, std::string_view command = {}) const {
        return bench_->recorder().last(call, command);
    }

    // Throw std::out_of_range when there is no such instrument of that generation.
    PicInstrument& instrument(std::string_view serial);
    SecondGenInstrument& secondGen(std::string_view serial);

    void addFault(std::string_view serial, FaultRule rule) { bench_->addFault(serial, std::move(rule)); }
    void setPresent(std::string_view serial, bool present) { bench_->setPresent(serial, present); }
    void dump(const std::filesystem::path& dir) const { bench_->dump(dir); }

private:
    std::unique_ptr<Clock> clock_;
    VirtualClock* virtual_ = nullptr;
    std::unique_ptr<Bench> bench_;
};

}  // namespace rovenza::sim
