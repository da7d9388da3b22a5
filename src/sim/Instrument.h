#pragma once
// What every simulated instrument shares: its identity, its presence on the bus, restarts that
// take it off the bus for a while, its fault plan, and the wire: a write request delivers a
// packet that the instrument recognises and acts on (receive), leaving the reply it owes
// pending until a read request collects it. While an instrument is off the bus it is not
// listed, and every handle opened before it left is dead for good (requests on it fail with
// 1167), even after it has come back.
#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/BenchSpec.h"
#include "sim/BenchTables.h"
#include "sim/FaultPlan.h"
#include "sim/Recorder.h"

namespace rovenza::sim {

// The bytes of a write request as the instrument takes them: a view of the caller's buffer.
using Packet = std::span<const std::uint8_t>;

// A reply's bytes, held in place: a reply is one USB packet of at most 64 bytes, and a long run
// makes millions of them.
class ReplyBytes {
public:
    static constexpr std::size_t kCapacity = 64;

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::uint8_t* data() { return bytes_.data(); }
    const std::uint8_t* data() const { return bytes_.data(); }
    std::uint8_t* begin() { return bytes_.data(); }
    std::uint8_t* end() { return bytes_.data() + size_; }
    const std::uint8_t* begin() const { return bytes_.data(); }
    const std::uint8_t* end() const { return bytes_.data() + size_; }
    std::uint8_t& operator[](std::size_t i) { return bytes_[i]; }
    std::uint8_t operator[](std::size_t i) const { return bytes_[i]; }

    void push_back(std::uint8_t byte) {
        grow(1);
        bytes_[size_++] = byte;
    }
    void append(std::span<const std::uint8_t> bytes) {
        grow(bytes.size());
        std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(size_));
        size_ += bytes.size();
    }
    // Cuts the reply to `count` bytes, or lengthens it with `fill`.
    void resize(std::size_t count, std::uint8_t fill = 0) {
        if (count > size_) {
            grow(count - size_);
            std::fill(bytes_.begin() + static_cast<std::ptrdiff_t>(size_), bytes_.begin() + static_cast<std::ptrdiff_t>(count), fill);
        }
        size_ = count;
    }

private:
    void grow(std::size_t more) const {
        if (more > kCapacity - size_) throw std::length_error("a reply of the bench holds at most 64 bytes");
    }

    std::array<std::uint8_t, kCapacity> bytes_;  // left unset past size_
    std::size_t size_ = 0;
};

struct PendingReply {
    PendingReply(Command command, std::int64_t readyAtUs) : command(command), readyAtUs(readyAtUs) {}

    Command command;
    ReplyBytes bytes;
    std::int64_t readyAtUs;  // the instrument has the reply ready from this bench time on
};

// What a fault rule does inside the instrument while it acts on a command.
struct FaultEffect {
    bool corruptMemory = false;  // "corrupt" on a command that stores: one wrong byte is kept
    std::optional<std::uint32_t> corruptByte{};  // which byte of the row or block (default: the command's own)
    bool busy = false;           // "busy": the status stays busy (second generation)
};

class Instrument {
public:
    explicit Instrument(const InstrumentSpec& setup);
    virtual ~Instrument() = default;
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    const std::string& serial() const { return serial_; }
    const FamilyModel& family() const { return family_; }
    int generation() const { return family_.generation; }

    bool present() const { return present_; }
    // Changes whenever the instrument leaves the bus; a handle carries the epoch it was opened in.
    std::uint32_t epoch() const { return epoch_; }
    std::uint32_t restarts() const { return restarts_; }
    // Bench time at which a restart brings it back, if one is under way.
    std::optional<std::int64_t> returnAtUs() const { return returnAtUs_; }
    bool neverReturns() const { return neverReturn_; }

    virtual std::string_view pid() const = 0;
    virtual std::string_view friendlyName() const { return family_.listText; }
    // \\?\usb#vid_1234&pid_0dae#SERIAL#{class guid}, identifier in lower case as Windows lists it.
    std::string devicePath() const;

    FaultPlan& faults() { return faults_; }
    const FaultPlan& faults() const { return faults_; }

    // Lifecycle, driven by the bench.
    void update(std::int64_t nowUs);  // brings back a restarting instrument once its time has come
    void restart(std::int64_t nowUs, std::uint32_t delayMs);  // leaves the bus, returns after the delay
    void vanish();                    // leaves the bus until reconnect()
    void reconnect();                 // back on the bus now (clears "never")
    void setNeverReturn() { neverReturn_ = true; }

    // The wire, driven by the bench. `recognise` names the command a packet carries (pure);
    // `receive` acts on it at bench time `nowUs` and leaves the reply it owes in pending(), or
    // none. A new command replaces a reply nobody collected.
    virtual Command recognise(Packet packet) const = 0;
    void receive(Command command, Packet packet, std::int64_t nowUs, const FaultEffect& effect);
    std::optional<PendingReply>& pending() { return pending_; }
    // The action of a fault rule that struck inside the instrument during the last receive
    // (a module command on the Zenara bridge), for the request's record; empty if none.
    std::string_view innerFault() const { return innerFault_; }
    // The last live handle on the instrument was closed.
    virtual void closed(std::int64_t /*nowUs*/) {}

    // state.txt lines and the memory files of the dump: each memory as "<name>.bin", its name
    // one of kMemoryNames; returns the names written.
    virtual void writeState(std::ostream& out) const;
    virtual std::vector<std::string> dumpMemories(const std::filesystem::path& folder) const = 0;
    // The bench file entry that starts the instrument as it stands now, but for its memories
    // (the caller names the dump's files) and its fault rules (left out): its set-up with its
    // present mode, and "present" false when it is off the bus and nothing brings it back.
    virtual InstrumentSpec setupAsNow() const;

protected:
    virtual void act(Command command, Packet packet, std::int64_t nowUs, const FaultEffect& effect) = 0;
    void setInnerFault(std::string_view action) { innerFault_ = action; }
    // The reply owed from now on, ready at `readyAtUs`: its bytes, empty, for the caller to fill.
    ReplyBytes& reply(Command command, std::int64_t readyAtUs) {
        return pending_.emplace(command, readyAtUs).bytes;
    }
    // The instrument's volatile state is lost whenever it leaves the bus (the pending reply
    // already is).
    virtual void onLeave() {}
    // Bench time has reached `nowUs` (called before every request and query).
    virtual void onTime(std::int64_t /*nowUs*/) {}

private:
    void leave();

    InstrumentSpec setup_;  // without its memories, fault rules and arrival
    std::string serial_;
    const FamilyModel& family_;
    FaultPlan faults_;
    bool present_ = true;
    std::uint32_t epoch_ = 1;
    std::uint32_t restarts_ = 0;
    std::optional<std::int64_t> returnAtUs_;
    std::optional<std::int64_t> arrivesAtUs_;
    bool neverReturn_ = false;
    std::optional<PendingReply> pending_;
    std::string_view innerFault_;
};

const FamilyModel& ModelOf(FamilyId id);
// A "corrupt" fault on a flash write: one bit that the block should keep is cleared. Flash
// cannot set it again without an erase, so a repeated write of the block reads back wrong as
// well. A block of zeros has no such bit: its first byte is left unwritten (0xFF) instead.
// With `at`, that byte of the block is the one spoilt (a zero byte is left unwritten).
void SpoilFlashWrite(Bytes& data, std::optional<std::uint32_t> at = std::nullopt);
// Writes `bytes` to `file`; throws std::runtime_error naming the file on failure.
void WriteBinaryFile(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes);

}  // namespace rovenza::sim
