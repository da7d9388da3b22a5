// The second-generation instrument as a driver client sees it: its identity record, the
// restart after its EEPROM was rewritten, one handle at a time, a flash that erases in time and
// writes by clearing bits, its replies, USB latency, and what each fault rule does.
#include <gtest/gtest.h>

#include "sim/BenchFile.h"
#include "support/BenchFixture.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {
namespace {

using sim::Bytes;
using sim::FaultAction;
using sim::FaultSide;
using sim::FamilyId;
using sim::SecondGenInstrument;

Bytes MemRead(std::uint16_t address, std::uint8_t k) {
    return {0xA8, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address), k};
}
Bytes MemWrite(std::uint16_t address, const Bytes& data) {
    Bytes frame{0xA9, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address),
                static_cast<std::uint8_t>(data.size())};
    frame.insert(frame.end(), data.begin(), data.end());
    return frame;
}
Bytes FlashFrame(std::uint8_t code, std::uint32_t address, std::uint8_t n, const Bytes& data = {}) {
    Bytes frame{code, static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 8),
                static_cast<std::uint8_t>(address), n};
    frame.insert(frame.end(), data.begin(), data.end());
    return frame;
}
Bytes FlashRead(std::uint32_t address, std::uint8_t n) { return FlashFrame(0xA5, address, n); }
Bytes FlashWrite(std::uint32_t address, const Bytes& data) {
    return FlashFrame(0xA6, address, static_cast<std::uint8_t>(data.size()), data);
}
const Bytes kStatus{0xA1}, kErase{0xA7};

// The listed path of `serial`, or empty when it is not on the bus.
std::string Listed(RawBench& w, const std::string& serial) {
    std::vector<DeviceInterfaceEntry> out;
    w.bench.interfaces().enumerate(kSecondGenerationClass, out);
    for (const auto& entry : out)
        if (entry.path.find("#" + serial + "#") != std::string::npos) return entry.path;
    return {};
}

TEST(SecondGen, TheIdentityRecordCarriesTheSerialZeroPaddedInTheOldFirmware) {
    struct Row {
        FamilyId family;
        const char* serial;
        Bytes serialBytes;
    };
    const Row rows[] = {
        {FamilyId::Velkaro, "TV1", {'T', 'V', '1', 0, 0, 0, 0, 0}},
        {FamilyId::Velkaro, "TV000001", {'T', 'V', '0', '0', '0', '0', '0', '1'}},
        {FamilyId::Zenara, "ZN-_9", {'Z', 'N', '-', '_', '9', 0, 0, 0}},
    };
    std::optional<Bytes> others;  // the record's other bytes are the same on every instrument
    for (const Row& row : rows) {
        SCOPED_TRACE(row.serial);
        RawBench w(BenchOf({BenchInstrument(row.family, row.serial)}));
        const Handle h = w.raw.open2(Listed(w, row.serial));
        // As the host reads it: 16 bytes, then 4.
        Bytes record = w.raw.exchange2(h, MemRead(0x1E00, 16)).data;
        const Bytes tail = w.raw.exchange2(h, MemRead(0x1E10, 4)).data;
        record.insert(record.end(), tail.begin(), tail.end());
        ASSERT_EQ(record.size(), 20u);
        EXPECT_EQ(Bytes(record.begin() + 10, record.begin() + 18), row.serialBytes);
        const Bytes rest = {record[0], record[1], record[2], record[9], record[18], record[19]};
        EXPECT_EQ(others.value_or(rest), rest);
        others = rest;
        const auto& eeprom = w.bench.secondGen(row.serial).eeprom();
        ASSERT_EQ(eeprom.size(), 65536u);
        EXPECT_EQ(eeprom[0x0100], SecondGenInstrument::OldEepromByte(0x0100));
    }
}

// Closing the handle restarts the instrument only when MEM_WRITE stored something; it is then
// off the bus for restartMs and comes back with its new EEPROM, its mode cleared and its FPGA
// power as it was, unless a rule keeps it away.
TEST(SecondGen, RestartsWhenClosedAfterItsEepromWasRewritten) {
    struct Row {
        const char* what;
        Bytes frame;
        std::optional<sim::FaultRule> rule;
        bool leaves;
        bool returns;
    };
    const Bytes firmware(16, 0x5A);
    const Row rows[] = {
        {"a 16-byte MEM_WRITE", MemWrite(0x0000, firmware), {}, true, true},
        {"a MEM_WRITE of no bytes", MemWrite(0x0000, {}), {}, false, true},
        {"MEM_READ only", MemRead(0x0000, 16), {}, false, true},
        {"FLASH_WRITE", FlashWrite(0x0000, Bytes(32, 0x00)), {}, false, true},
        {"MEM_WRITE with never", MemWrite(0x0000, firmware), sim::FaultRule{.request = "MEM_WRITE", .action = FaultAction::Never},
         true, false},
        {"reappear with vanish", MemWrite(0x0000, firmware),
         sim::FaultRule{.request = "reappear", .occurrence = 1, .action = FaultAction::Vanish}, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        sim::InstrumentSpec setup = BenchInstrument(FamilyId::Velkaro, "TV000001");
        setup.restartMs = 3000;
        RawBench w(BenchOf({setup}));
        if (row.rule) w.bench.addFault("TV000001", *row.rule);
        const std::string path = Listed(w, "TV000001");
        const Handle h = w.raw.open2(path);
        ASSERT_TRUE(w.raw.exchange2(h, {0xA0, 0x01}).ok);
        ASSERT_TRUE(w.raw.exchange2(h, {0xAF, 0x00}).ok);
        ASSERT_TRUE(w.raw.exchange2(h, row.frame).ok);
        w.raw.close(h);
        auto& tv = w.bench.secondGen("TV000001");
        if (!row.leaves) {
            EXPECT_EQ(Listed(w, "TV000001"), path);
            EXPECT_NE(w.raw.open2(path), kInvalidHandle);
            EXPECT_EQ(tv.restarts(), 0u);
            continue;
        }
        std::uint32_t error = 0;
        EXPECT_EQ(w.raw.open2(path, &error), kInvalidHandle);
        EXPECT_EQ(error, kErrorFileNotFound);
        w.sleepMs(2999);
        EXPECT_EQ(Listed(w, "TV000001"), "");
        w.sleepMs(1);
        EXPECT_EQ(Listed(w, "TV000001"), row.returns ? path : "");
        EXPECT_EQ(w.raw.open2(path) != kInvalidHandle, row.returns);
        EXPECT_EQ(tv.restarts(), 1u);
        EXPECT_EQ(Bytes(tv.eeprom().begin(), tv.eeprom().begin() + 16), firmware);
        EXPECT_EQ(std::tuple(tv.mode(), tv.fpgaPower()), std::tuple(0, false));
    }
}

TEST(SecondGen, OpensForOneHandleAtATime) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::Velkaro, "TV000001"), BenchInstrument(FamilyId::Velkaro, "TV000002")}));
    const std::string path = Listed(w, "TV000001");
    const Handle h = w.raw.open2(path);
    ASSERT_NE(h, kInvalidHandle);
    for (const std::uint32_t share : {0u, kFileShareWrite | sim::kFileShareRead}) {
        std::uint32_t error = 0;
        EXPECT_EQ(w.raw.open(path, &error, kGenericRead | kGenericWrite, share), kInvalidHandle);
        EXPECT_EQ(error, sim::kErrorSharingViolation);
    }
    EXPECT_NE(w.raw.open2(Listed(w, "TV000002")), kInvalidHandle);  // another instrument
    w.raw.close(h);
    EXPECT_NE(w.raw.open2(path), kInvalidHandle);
    // A handle that died when the instrument left the bus holds nothing.
    w.bench.setPresent("TV000001", false);
    w.bench.setPresent("TV000001", true);
    EXPECT_NE(w.raw.open2(path), kInvalidHandle);
}

TEST(SecondGen, AnEraseTakesItsTimeWithBusySetAndAWriteOnlyClearsBits) {
    sim::InstrumentSpec setup = BenchInstrument(FamilyId::Velkaro, "TV000001");
    setup.eraseMs = 6400;  // 256 sectors of 64 KiB, 25 ms each
    RawBench w(BenchOf({setup}));
    const Handle h = w.raw.open2(Listed(w, "TV000001"));
    auto busy = [&] { return w.raw.exchange2(h, kStatus).data.at(2); };
    auto flash = [&](std::uint32_t address, std::uint8_t n) { return w.raw.exchange2(h, FlashRead(address, n)).data; };
    EXPECT_EQ(w.raw.exchange2(h, kStatus).data, (Bytes{0x00, 0x01, 0x00, 0x00, 0x01}));  // idle, powered
    EXPECT_EQ(flash(0x3FFFF, 2), (Bytes{SecondGenInstrument::OldConfigurationByte(0x3FFFF), 0xFF}));

    ASSERT_TRUE(w.raw.exchange2(h, kErase).ok);
    const std::int64_t t0 = w.nowUs();
    EXPECT_EQ(busy(), 1);
    w.sleepMs(50);  // two sectors done
    EXPECT_EQ(flash(0x1FFFF, 2), (Bytes{0xFF, SecondGenInstrument::OldConfigurationByte(0x20000)}));
    // Nothing is written while it erases: the echo shows the flash as it stands.
    EXPECT_EQ(w.raw.exchange2(h, FlashWrite(0x30000, {0x00})).data, Bytes{SecondGenInstrument::OldConfigurationByte(0x30000)});
    w.sleepMs(static_cast<std::uint32_t>(6'399'000 - (w.nowUs() - t0)) / 1000);
    EXPECT_EQ(busy(), 1);
    w.sleepMs(1);
    EXPECT_EQ(busy(), 0);
    EXPECT_EQ(flash(0x30000, 1), Bytes{0xFF});
    EXPECT_EQ(w.bench.secondGen("TV000001").flash().pagesHeld(), 0u);

    EXPECT_EQ(w.raw.exchange2(h, FlashWrite(0x100, {0xF0, 0x3C})).data, (Bytes{0xF0, 0x3C}));
    EXPECT_EQ(w.raw.exchange2(h, FlashWrite(0x100, {0x0F, 0xFF})).data, (Bytes{0x00, 0x3C}));
    EXPECT_EQ(flash(0x100, 3), (Bytes{0x00, 0x3C, 0xFF}));
    // A block across two pages, and one that runs past the end of the 16 MiB.
    EXPECT_EQ(w.raw.exchange2(h, FlashWrite(0xFFF0, Bytes(32, 0x3C))).data, Bytes(32, 0x3C));
    Bytes atTheEnd(16, 0x3C);
    atTheEnd.resize(32, 0xFF);
    EXPECT_EQ(w.raw.exchange2(h, FlashWrite(0xFFFFF0, Bytes(32, 0x3C))).data, atTheEnd);
    EXPECT_EQ(w.bench.secondGen("TV000001").flash().extent(), 0x1000000u);
}

TEST(SecondGen, EachRequestIsAnsweredWithAtMost64Bytes) {
    struct Row {
        Bytes frame;
        const char* command;
        std::optional<std::size_t> replied;  // none: no reply, the read times out
    };
    Bytes i2cWrite{0xAD, 0x3F, 12};
    i2cWrite.resize(15, 0x11);
    const Row rows[] = {
        {{0xA0, 0x01}, "SET_MODE", 1},
        {kStatus, "GET_STATUS", 5},
        {FlashRead(0x000000, 200), "FLASH_READ", 64},
        {FlashWrite(0x000000, Bytes(100, 0xFF)), "FLASH_WRITE", 64},
        {kErase, "FLASH_ERASE", 1},
        {MemRead(0x0000, 0), "MEM_READ", 0},
        {MemRead(0xFFF8, 16), "MEM_READ", 16},
        {MemWrite(0x0000, Bytes(16, 0x00)), "MEM_WRITE", 1},
        {i2cWrite, "I2C_WRITE", 1},
        {{0xAF, 0x00}, "FPGA_POWER", 1},
        {{0xB0, 0x3F, 12}, "I2C_START_READ", 1},
        {{0xB1}, "I2C_POLL", 1},
        {{0xA8, 0x00}, "-", std::nullopt},  // shorter than its fixed part
        {{0x42}, "-", std::nullopt},
    };
    RawBench w(BenchOf({BenchInstrument(FamilyId::Velkaro, "TV000001")}));
    const Handle h = w.raw.open2(Listed(w, "TV000001"));
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.frame));
        const RawResult r = w.raw.exchange2(h, row.frame);
        EXPECT_EQ(r.ok, row.replied.has_value());
        EXPECT_EQ(row.replied ? r.returned : r.error, row.replied ? *row.replied : kErrorTimeout);
        EXPECT_EQ(w.bench.last("write2")->command, row.command);
        EXPECT_EQ(w.bench.last("read2")->command, row.command);
    }
    const auto& tv = w.bench.secondGen("TV000001");
    EXPECT_EQ(std::tuple(tv.mode(), tv.fpgaPower(), tv.erases()), std::tuple(1, false, 1u));
    // MEM_READ wraps at 64 KiB.
    const Bytes wrapped = w.raw.exchange2(h, MemRead(0xFFF8, 16)).data;
    EXPECT_TRUE(std::equal(wrapped.begin(), wrapped.begin() + 8, tv.eeprom().end() - 8));
    EXPECT_TRUE(std::equal(wrapped.begin() + 8, wrapped.end(), tv.eeprom().begin()));
}

TEST(SecondGen, EveryRequestTakesTheBenchLatencyUnlessTheFileSaysZero) {
    EXPECT_GT(sim::kDefaultLatencyUs, 0u);
    const std::pair<const char*, std::int64_t> rows[] = {
        {R"({"instruments": [{"family": "Velkaro USB", "serial": "TV1"}]})", 2 * std::int64_t{sim::kDefaultLatencyUs}},
        {R"({"latencyUs": 0, "instruments": [{"family": "Velkaro USB", "serial": "TV1"}]})", 0},
        {R"({"latencyUs": 125, "instruments": [{"family": "Velkaro USB", "serial": "TV1"}]})", 250},
    };
    for (const auto& [file, exchangeUs] : rows) {
        SCOPED_TRACE(file);
        RawBench w(sim::ParseBench(file, "virtual"));
        const Handle h = w.raw.open2(Listed(w, "TV1"));
        const std::int64_t t0 = w.nowUs();
        ASSERT_TRUE(w.raw.exchange2(h, kStatus).ok);
        EXPECT_EQ(w.nowUs() - t0, exchangeUs);
    }
}

// What the host sees of one request and what the instrument holds, on an instrument with a
// blank flash and 16 bytes written at 0x100, with a fault rule on that request and without.
struct Held {
    Bytes eeprom, flash;
    bool fpgaPower;
    std::uint8_t mode;
    bool operator==(const Held&) const = default;
};

struct Outcome {
    std::uint32_t writeError = 0, readError = 0;
    std::optional<Bytes> reply;
    std::int64_t tookUs = 0;
    Held before, after;
    bool busyLater = false, listedLater = true;
};

Outcome Exchange(const Bytes& frame, const std::optional<sim::FaultRule>& rule) {
    sim::InstrumentSpec setup = BenchInstrument(FamilyId::Velkaro, "TV000001");
    setup.eraseMs = 0;
    RawBench w(BenchOf({setup}));
    const Handle h = w.raw.open2(Listed(w, "TV000001"));
    w.raw.exchange2(h, kErase);
    w.raw.exchange2(h, FlashWrite(0x100, Bytes(16, 0x00)));
    if (rule) w.bench.addFault("TV000001", *rule);
    auto held = [&] {
        const auto& tv = w.bench.secondGen("TV000001");
        return Held{tv.eeprom(), tv.flash().read(0, 0x400), tv.fpgaPower(), tv.mode()};
    };
    Outcome out;
    out.before = held();
    const std::int64_t t0 = w.nowUs();
    const RawResult written = w.raw.request(h, kIoctlWrite2, RawHeader(kPipeWrite, 1000), frame);
    out.writeError = written.error;
    if (written.ok) {
        const RawResult read = w.raw.request(h, kIoctlRead2, RawHeader(kPipeRead, 1000), Bytes(64));
        out.readError = read.error;
        if (read.ok) out.reply = read.data;
    }
    out.tookUs = w.nowUs() - t0;
    out.after = held();
    w.sleepMs(100'000);
    out.busyLater = w.bench.secondGen("TV000001").busy();
    out.listedLater = !Listed(w, "TV000001").empty();
    return out;
}

TEST(SecondGenFaults, EachRuleShapesItsRequestAsTheHostSeesIt) {
    // What the instrument holds after the request: as without the rule, as before the request
    // (where the request would change it), or neither.
    enum class Kept { AsWithout, Before, Other };
    struct Row {
        const char* request;
        FaultAction action;
        FaultSide on;
        std::optional<std::uint32_t> length;
        Bytes frame;
        std::uint32_t writeError, readError;
        std::int64_t tookMs;
        int differsAt;                       // the one reply byte that differs, or -1
        std::optional<std::size_t> cutTo;    // the reply's length when cut
        Kept kept;
        bool busyLater, listedLater;
    };
    const Bytes eeprom = MemWrite(0x0040, Bytes(16, 0xA5)), block = FlashWrite(0x0200, Bytes(32, 0x5A));
    const Row rows[] = {
        {"MEM_WRITE", FaultAction::Fail, FaultSide::Write, {}, eeprom, 1234, 0, 0, -1, {}, Kept::Before, false, true},
        {"MEM_WRITE", FaultAction::Fail, FaultSide::Read, {}, eeprom, 0, 1234, 0, -1, {}, Kept::AsWithout, false, true},
        {"MEM_WRITE", FaultAction::Timeout, FaultSide::Write, {}, eeprom, kErrorTimeout, 0, 1000, -1, {}, Kept::Before, false, true},
        {"MEM_WRITE", FaultAction::Vanish, FaultSide::Write, {}, eeprom, kErrorDeviceNotConnected, 0, 0, -1, {}, Kept::Before, false, false},
        {"MEM_WRITE", FaultAction::Corrupt, FaultSide::Write, {}, eeprom, 0, 0, 0, -1, {}, Kept::Other, false, true},
        {"MEM_READ", FaultAction::Corrupt, FaultSide::Write, {}, MemRead(0x1E00, 16), 0, 0, 0, 0, {}, Kept::AsWithout, false, true},
        {"MEM_READ", FaultAction::Short, FaultSide::Write, 0, MemRead(0x1E00, 16), 0, 0, 0, -1, 0, Kept::AsWithout, false, true},
        {"MEM_READ", FaultAction::Short, FaultSide::Write, {}, MemRead(0x1E00, 16), 0, 0, 0, -1, 8, Kept::AsWithout, false, true},
        {"MEM_READ", FaultAction::Timeout, FaultSide::Read, {}, MemRead(0x1E00, 16), 0, kErrorTimeout, 1000, -1, {}, Kept::AsWithout, false, true},
        {"MEM_READ", FaultAction::Vanish, FaultSide::Read, {}, MemRead(0x1E00, 16), 0, kErrorDeviceNotConnected, 0, -1, {}, Kept::AsWithout, false, false},
        {"FLASH_WRITE", FaultAction::Corrupt, FaultSide::Write, {}, block, 0, 0, 0, 0, {}, Kept::Other, false, true},
        {"FLASH_WRITE", FaultAction::Short, FaultSide::Write, 10, block, 0, 0, 0, -1, 10, Kept::AsWithout, false, true},
        {"FLASH_WRITE", FaultAction::Fail, FaultSide::Write, {}, block, 1234, 0, 0, -1, {}, Kept::Before, false, true},
        {"FLASH_READ", FaultAction::Corrupt, FaultSide::Write, {}, FlashRead(0x100, 32), 0, 0, 0, 0, {}, Kept::AsWithout, false, true},
        {"FLASH_READ", FaultAction::Fail, FaultSide::Read, {}, FlashRead(0x100, 32), 0, 1234, 0, -1, {}, Kept::AsWithout, false, true},
        {"GET_STATUS", FaultAction::Short, FaultSide::Write, 4, kStatus, 0, 0, 0, -1, 4, Kept::AsWithout, false, true},
        {"GET_STATUS", FaultAction::Busy, FaultSide::Write, {}, kStatus, 0, 0, 0, 2, {}, Kept::AsWithout, false, true},
        {"GET_STATUS", FaultAction::Fail, FaultSide::Read, {}, kStatus, 0, 1234, 0, -1, {}, Kept::AsWithout, false, true},
        {"FLASH_ERASE", FaultAction::Busy, FaultSide::Write, {}, kErase, 0, 0, 0, -1, {}, Kept::Before, true, true},
        {"FPGA_POWER", FaultAction::Fail, FaultSide::Write, {}, {0xAF, 0x00}, 1234, 0, 0, -1, {}, Kept::Before, false, true},
        {"SET_MODE", FaultAction::Corrupt, FaultSide::Write, {}, {0xA0, 0x01}, 0, 0, 0, 0, {}, Kept::AsWithout, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.request << " " << sim::ActionName(row.action) << " on "
                                        << (row.on == FaultSide::Read ? "read" : "write"));
        const Outcome without = Exchange(row.frame, std::nullopt);
        const Outcome with = Exchange(row.frame, sim::FaultRule{.request = row.request, .action = row.action, .code = 1234,
                                                                .on = row.on, .length = row.length});
        ASSERT_TRUE(without.reply.has_value());
        EXPECT_EQ(std::tuple(with.writeError, with.readError), std::tuple(row.writeError, row.readError));
        EXPECT_EQ(with.tookUs, row.tookMs * 1000);
        const bool replied = row.writeError == 0 && row.readError == 0;
        ASSERT_EQ(with.reply.has_value(), replied);
        if (replied && row.cutTo) {
            EXPECT_EQ(*with.reply, Bytes(without.reply->begin(), without.reply->begin() + static_cast<std::ptrdiff_t>(*row.cutTo)));
        } else if (replied) {
            ASSERT_EQ(with.reply->size(), without.reply->size());
            for (std::size_t i = 0; i < with.reply->size(); ++i)
                EXPECT_EQ((*with.reply)[i] != (*without.reply)[i], static_cast<int>(i) == row.differsAt) << "byte " << i;
        }
        switch (row.kept) {
            case Kept::AsWithout: EXPECT_TRUE(with.after == without.after); break;
            case Kept::Before:
                EXPECT_TRUE(with.after == with.before);
                EXPECT_FALSE(without.after == without.before);
                break;
            case Kept::Other:
                EXPECT_FALSE(with.after == without.after);
                EXPECT_FALSE(with.after == with.before);
                break;
        }
        EXPECT_EQ(std::tuple(with.busyLater, with.listedLater), std::tuple(row.busyLater, row.listedLater));
    }
}

}  // namespace
}  // namespace rovenza
