// "Velkaro USB" upgrades against the simulated bench: the frames and waits on the wire, every
// failure row, several instruments in one run, and what each instrument holds afterwards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "devices/TERVADevice.h"
#include "sim/SecondGenInstrument.h"
#include "support/BenchWorld.h"
#include "support/PackageBytes.h"

namespace rovenza {
namespace {

using sim::FaultAction;
using sim::FaultRule;
using sim::FaultSide;
using sim::SecondGenInstrument;
using ::testing::ElementsAre;

const std::string kTrail = "\x0A\x0D";
const std::string kSuccess = "Firmware upgrade successful!";

Bytes Pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    return bytes;
}

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

sim::BenchSpec Velkaros(const std::vector<std::string>& serials, std::uint32_t restartMs = sim::kDefaultRestartMs) {
    sim::BenchSpec setup;
    setup.latencyUs = 0;  // the waits asserted below are the protocol's own
    for (const auto& serial : serials) {
        sim::InstrumentSpec instrument;
        instrument.family = FamilyId::Velkaro;
        instrument.serial = serial;
        instrument.restartMs = restartMs;
        setup.instruments.push_back(instrument);
    }
    return setup;
}

// Records the stage text every time the upgrader waits, as the progress timer would see it.
class StageWatch final : public Clock {
public:
    explicit StageWatch(Clock& inner) : inner_(inner) {}
    void sleep(std::uint32_t ms) override {
        if (++sleeps == throwAtSleep) throw std::runtime_error("wait interrupted");
        if (onSleep) onSleep(ms);
        if (device != nullptr) {
            const std::string stage = device->GetStageText();
            if (!stage.empty() && (stages.empty() || stages.back() != stage)) stages.push_back(stage);
        }
        inner_.sleep(ms);
    }
    std::int64_t counter() override { return inner_.counter(); }
    std::int64_t frequency() override { return inner_.frequency(); }

    TUSBDevice* device = nullptr;
    std::vector<std::string> stages;
    int sleeps = 0;
    int throwAtSleep = 0;  // the wait that throws, counted from 1; 0: none
    std::function<void(std::uint32_t ms)> onSleep;

private:
    Clock& inner_;
};

struct Images {
    Bytes usb = Pattern(100, 0x11);
    Bytes fpga = Pattern(1000, 0x22);
    int deviceType = 3;
    std::vector<std::pair<std::string, std::string>> settings = {{"FPGAPowerON", "1"}};
    bool withUsb = true;
    bool withFpga = true;
};

class VelkaroWorld {
public:
    explicit VelkaroWorld(const sim::BenchSpec& setup)
        : world(setup),
          watch(world.bench.clock()),
          context{world.context().driver, world.context().interfaces, watch, world.context().debug,
                  world.context().op, world.context().folders} {}

    std::string Run(TUSBDevice& upgrader, const Images& images) {
        std::vector<FwuMember> members{{"Bootload.ini", ManifestText(images.deviceType, images.settings)}};
        if (images.withUsb) members.push_back({"USB.bin", Text(images.usb)});
        if (images.withFpga) members.push_back({"fpga.bin", Text(images.fpga)});
        watch.device = &upgrader;
        return world.Run(upgrader, world.Package(members));
    }
    SecondGenInstrument& instrument(const std::string& serial) { return world.bench.secondGen(serial); }
    void Fault(const std::string& serial, FaultRule rule) { world.bench.addFault(serial, std::move(rule)); }
    std::vector<sim::RecordedRequest> Writes(const std::string& command, const std::string& serial = {}) const {
        std::vector<sim::RecordedRequest> out;
        for (const auto& r : world.bench.select("write2", command))
            if (serial.empty() || r.serial == serial) out.push_back(r);
        return out;
    }
    // Whether the instrument holds `images` (flash bit-reversed when `swapped`), its identity
    // record as it was, and nothing else changed.
    bool Holds(const std::string& serial, const Images& images, bool swapped = false) {
        auto& tv = instrument(serial);
        Bytes eeprom = images.usb;
        const Bytes record = SecondGenInstrument::IdentityRecord(serial);
        for (std::size_t a = 0; a < record.size(); ++a)
            if (kSerialBlockAddress + a < eeprom.size()) eeprom[kSerialBlockAddress + a] = record[a];
        if (!std::equal(eeprom.begin(), eeprom.end(), tv.eeprom().begin())) return false;
        if (!std::equal(record.begin(), record.end(), tv.eeprom().begin() + kSerialBlockAddress)) return false;
        // The byte after the image: an old byte, or one of the record's.
        const auto end = static_cast<std::uint32_t>(eeprom.size());
        const bool inRecord = end >= kSerialBlockAddress && end < kSerialBlockAddress + record.size();
        if (tv.eeprom()[end] != (inRecord ? record[end - kSerialBlockAddress] : SecondGenInstrument::OldEepromByte(end)))
            return false;
        Bytes flash = images.fpga;
        if (swapped) SwapBits(flash.data(), flash.size());
        return tv.flash().read(0, flash.size()) == flash && tv.flash().extent() == flash.size();
    }
    bool Untouched(const std::string& serial) {
        auto& tv = instrument(serial);
        for (std::uint32_t a = 0; a < 0x1000; ++a)
            if (tv.eeprom()[a] != SecondGenInstrument::OldEepromByte(a)) return false;
        return tv.erases() == 0 && tv.flash().read(0, 1) == Bytes{SecondGenInstrument::OldConfigurationByte(0)};
    }

    BenchWorld world;
    StageWatch watch;
    Context context;
};

const std::string kOne = "TV000001";

// One instrument, a 17-byte EEPROM image and a 33-byte flash image, bits swapped, power on.
TEST(VelkaroUpgrade, WritesBothImagesBlockByBlockWithTheirWaits) {
    VelkaroWorld w(Velkaros({kOne}));
    TTERVADevice2 upgrader(w.context);
    EXPECT_EQ(upgrader.GetTotalCount(), 0);
    Images images{.usb = Pattern(17, 0x30), .fpga = Pattern(33, 0x40), .settings = {{"FPGABitSwap", "1"}, {"FPGAPowerON", "1"}}};
    images.fpga[0] = 0x01;
    EXPECT_EQ(w.Run(upgrader, images), kSuccess);
    EXPECT_TRUE(w.Holds(kOne, images, true));
    EXPECT_EQ(w.instrument(kOne).flash().read(0, 1), Bytes{0x80});
    EXPECT_TRUE(w.instrument(kOne).fpgaPower());
    EXPECT_EQ(upgrader.GetTotalCount(), 100);
    EXPECT_EQ(upgrader.GetDoneCount(), 100);
    EXPECT_THAT(w.watch.stages, ElementsAre("USB Pic uploading", "FPGA uploading"));
    EXPECT_EQ(w.world.bench.bench().openHandles(), 0u);

    // The order of the conversation; the status is polled until the erase is done (6 s).
    std::vector<std::string> expected{"SET_MODE", "FPGA_POWER", "MEM_WRITE", "MEM_WRITE", "MEM_READ", "MEM_READ",
                                      "FLASH_ERASE"};
    expected.insert(expected.end(), 60, "GET_STATUS");
    for (const char* c : {"FLASH_WRITE", "FLASH_WRITE", "FLASH_READ", "FLASH_READ", "FPGA_POWER"}) expected.push_back(c);
    std::vector<std::string> sent;
    for (const auto& r : w.world.bench.select("write2")) sent.push_back(r.command);
    EXPECT_EQ(sent, expected);

    // 16 + 1 EEPROM bytes, 32 + 1 flash bytes, the flash bytes bit-reversed.
    const auto memWrites = w.Writes("MEM_WRITE");
    EXPECT_THAT(Bytes(memWrites[0].sent.begin(), memWrites[0].sent.begin() + 4), ElementsAre(0xA9, 0, 0, 16));
    EXPECT_EQ(Bytes(memWrites[0].sent.begin() + 4, memWrites[0].sent.end()), Bytes(images.usb.begin(), images.usb.begin() + 16));
    EXPECT_THAT(memWrites[1].sent, ElementsAre(0xA9, 0, 16, 1, images.usb[16]));
    EXPECT_THAT(w.Writes("MEM_READ")[1].sent, ElementsAre(0xA8, 0, 16, 1));
    const auto flashWrites = w.Writes("FLASH_WRITE");
    EXPECT_THAT(Bytes(flashWrites[0].sent.begin(), flashWrites[0].sent.begin() + 6), ElementsAre(0xA6, 0, 0, 0, 32, 0x80));
    Bytes last{images.fpga[32]};
    SwapBits(last.data(), 1);
    EXPECT_THAT(flashWrites[1].sent, ElementsAre(0xA6, 0, 0, 32, 1, last[0]));
    EXPECT_THAT(w.Writes("FLASH_READ")[1].sent, ElementsAre(0xA5, 0, 0, 32, 1));
    EXPECT_THAT(w.Writes("FPGA_POWER")[0].sent, ElementsAre(0xAF, 0));
    EXPECT_THAT(w.Writes("FPGA_POWER")[1].sent, ElementsAre(0xAF, 1));

    // The waits: closed for the restart, 4 s to the reopen, 1 s to the erase, 100 ms per poll,
    // 10 s + 1 s to the first write, 1 s before the verify pass.
    const auto close = w.world.bench.select("close2").at(0).timeUs;
    const auto reopen = w.world.bench.select("open2").at(1).timeUs;
    const auto erase = w.Writes("FLASH_ERASE").at(0).timeUs;
    const auto polls = w.Writes("GET_STATUS");
    EXPECT_EQ(reopen - close, 4'000'000);
    EXPECT_EQ(erase - reopen, 1'000'000);
    EXPECT_EQ(polls.front().timeUs - erase, 100'000);
    for (std::size_t i = 1; i < polls.size(); ++i) EXPECT_EQ(polls[i].timeUs - polls[i - 1].timeUs, 100'000);
    EXPECT_EQ(flashWrites[0].timeUs - polls.back().timeUs, 11'000'000);
    EXPECT_EQ(w.Writes("FLASH_READ")[0].timeUs - flashWrites[1].timeUs, 1'000'000);
}

TEST(VelkaroUpgrade, AnImageThatReachesTheIdentityRecordLeavesItAsItWas) {
    // Past the whole record, into its first ten bytes, or ending right before it (no record read).
    const std::size_t record = kSerialBlockAddress;
    for (const std::size_t size : {std::size_t{8192}, record + 10, record}) {
        SCOPED_TRACE(size);
        VelkaroWorld w(Velkaros({kOne}));
        TTERVADevice2 upgrader(w.context);
        Images images{.usb = Pattern(size, 0x55)};
        EXPECT_EQ(w.Run(upgrader, images), kSuccess);
        EXPECT_TRUE(w.Holds(kOne, images));
        // The record is read (16 + 4 bytes) before the first write; the verify pass reads a block
        // of 16 bytes for each one written.
        const bool reaches = size > record;
        std::vector<std::string> before;
        for (const auto& r : w.world.bench.select("write2")) {
            if (r.command == "MEM_WRITE") break;
            before.push_back(r.command);
        }
        if (reaches) {
            EXPECT_THAT(before, ElementsAre("SET_MODE", "FPGA_POWER", "MEM_READ", "MEM_READ"));
            EXPECT_THAT(w.Writes("MEM_READ")[0].sent, ElementsAre(0xA8, 0x1E, 0x00, 16));
        } else {
            EXPECT_THAT(before, ElementsAre("SET_MODE", "FPGA_POWER"));
        }
        const std::size_t blocks = (size + 15) / 16;
        EXPECT_EQ(w.Writes("MEM_WRITE").size(), blocks);
        EXPECT_EQ(w.Writes("MEM_READ").size(), (reaches ? 2u : 0u) + blocks);
    }
}

TEST(VelkaroUpgrade, TheInstrumentBackOnlyOnTheFifthAttemptIsStillUpgraded) {
    // Away for 18 s: the attempts at 4, 8, 12 and 16 s fail, the one at 20 s opens it.
    VelkaroWorld w(Velkaros({kOne}, 18000));
    TTERVADevice2 upgrader(w.context);
    const Images images;
    EXPECT_EQ(w.Run(upgrader, images), kSuccess);
    EXPECT_TRUE(w.Holds(kOne, images));
    const auto close = w.world.bench.select("close2").at(0).timeUs;
    std::vector<std::int64_t> attempts;
    for (const auto& open : w.world.bench.select("open2"))
        if (open.timeUs > close) attempts.push_back((open.timeUs - close) / 1000);
    EXPECT_THAT(attempts, ElementsAre(4000, 8000, 12000, 16000, 20000));
    EXPECT_EQ(w.Writes("FLASH_ERASE").at(0).timeUs - close, 21'000'000);
}

struct FailureRow {
    const char* name;
    std::vector<FaultRule> faults;
    std::string message;
    std::string trail;
    Images images{};
    bool eepromWritten = true;  // the EEPROM holds USB.bin
    std::size_t erases = 1;
};
void PrintTo(const FailureRow& row, std::ostream* os) { *os << row.name; }

class VelkaroFailureTest : public ::testing::TestWithParam<FailureRow> {};

// Every row ends closed, with the FPGA off (FPGAPowerON is set in every package) and the flash
// left as it was when the erase was not reached.
TEST_P(VelkaroFailureTest, EndsWithItsMessageAndTrail) {
    const FailureRow& row = GetParam();
    VelkaroWorld w(Velkaros({kOne}));
    for (const auto& fault : row.faults) w.Fault(kOne, fault);
    TTERVADevice2 upgrader(w.context);
    EXPECT_EQ(w.Run(upgrader, row.images), row.message);
    EXPECT_EQ(upgrader.ErrorTrail, row.trail);
    EXPECT_EQ(w.world.bench.bench().openHandles(), 0u);
    EXPECT_EQ(w.instrument(kOne).erases(), row.erases);
    auto& tv = w.instrument(kOne);
    // USB.bin from address 0 (an oversized image cannot be there whole).
    const auto& eeprom = tv.eeprom();
    const auto held = static_cast<std::ptrdiff_t>(std::min(row.images.usb.size(), eeprom.size()));
    EXPECT_EQ(std::equal(row.images.usb.begin(), row.images.usb.end(), eeprom.begin(), eeprom.begin() + held),
              row.eepromWritten);
    if (row.message == kSuccess) {
        EXPECT_TRUE(w.Holds(kOne, row.images));
        EXPECT_TRUE(tv.fpgaPower());
    } else {
        EXPECT_EQ(w.Writes("FPGA_POWER").size(), row.message == "Corrupted file" ? 0u : 1u);
    }
    if (row.erases == 0) {
        EXPECT_EQ(tv.flash().read(0, 1), Bytes{SecondGenInstrument::OldConfigurationByte(0)});
    }
    if (row.message == "Corrupted file") {
        // Nothing but the opening of the selection.
        std::vector<std::string> calls;
        for (const auto& r : w.world.bench.requests()) calls.push_back(r.call + " " + r.command);
        EXPECT_THAT(calls, ElementsAre("open2 -", "write2 SET_MODE", "read2 SET_MODE", "close2 -"));
    }
}

FaultRule On(const char* request, std::uint32_t occurrence, FaultAction action, FaultSide side = FaultSide::Write) {
    return {.request = request, .occurrence = occurrence, .action = action, .on = side};
}

Images Without(bool usb, bool fpga) {
    Images images;
    images.withUsb = usb;
    images.withFpga = fpga;
    return images;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, VelkaroFailureTest,
    ::testing::Values(
        FailureRow{"PowerOffFails", {On("FPGA_POWER", 1, FaultAction::Fail)}, "Error: FPGA Power Off", "", {}, false, 0},
        FailureRow{"UsbBinMissing", {}, "Corrupted file", "", Without(false, true), false, 0},
        FailureRow{"FpgaBinMissing", {}, "Corrupted file", "", Without(true, false), false, 0},
        FailureRow{"FpgaBinEmpty", {}, "Corrupted file", "", Images{.fpga = {}}, false, 0},
        FailureRow{"UsbBinOversized", {}, "Corrupted file", "", Images{.usb = Pattern(65537, 1)}, false, 0},
        FailureRow{"EepromWriteFails", {On("MEM_WRITE", 3, FaultAction::Fail)}, "Error: " + kTrail + "EEPROM Write",
                   kTrail + "EEPROM Write", {}, false, 0},
        FailureRow{"EepromReadFails", {On("MEM_READ", 2, FaultAction::Fail, FaultSide::Read)},
                   "Error: " + kTrail + "EEPROM Read", kTrail + "EEPROM Read", {}, true, 0},
        FailureRow{"IdentityRecordUnreadable", {On("MEM_READ", 2, FaultAction::Fail)}, "Error: " + kTrail + "EEPROM Read",
                   kTrail + "EEPROM Read", Images{.usb = Pattern(8192, 3)}, false, 0},
        FailureRow{"EepromReadBackDiffers", {On("MEM_READ", 7, FaultAction::Corrupt)},
                   "Error: " + kTrail + "EEPROM verification failed", kTrail + "EEPROM verification failed", {}, true, 0},
        FailureRow{"StatusPollFails", {On("GET_STATUS", 3, FaultAction::Fail)}, "Error: " + kTrail + "ERASE problem",
                   kTrail + "ERASE problem"},
        FailureRow{"FlashWriteFails", {On("FLASH_WRITE", 5, FaultAction::Fail)}, "Error: " + kTrail + "FLASH Write",
                   kTrail + "FLASH Write"},
        FailureRow{"FlashEchoDiffers", {On("FLASH_WRITE", 5, FaultAction::Corrupt)}, "Error: " + kTrail + "FLASH Write",
                   kTrail + "FLASH Write"},
        FailureRow{"FlashReadFails", {On("FLASH_READ", 5, FaultAction::Fail)}, "Error: " + kTrail + "FLASH Read",
                   kTrail + "FLASH Read"},
        FailureRow{"FlashReadBackDiffers", {On("FLASH_READ", 5, FaultAction::Corrupt)},
                   "Error: " + kTrail + "FLASH verification failed", kTrail + "FLASH verification failed"},
        FailureRow{"FlashReadShort", {On("FLASH_READ", 32, FaultAction::Short)},
                   "Error: " + kTrail + "FLASH verification failed", kTrail + "FLASH verification failed"},
        FailureRow{"BusyForEveryPoll", {{.request = "GET_STATUS", .action = FaultAction::Busy}}, kSuccess, ""},
        FailureRow{"NeverBack", {On("reappear", 1, FaultAction::Never)}, "Error", "", {}, true, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VelkaroUpgrade, WaitsOutEveryPollOfAStatusThatStaysBusyAndEveryReopenOfOneThatNeverReturns) {
    {
        VelkaroWorld w(Velkaros({kOne}));
        w.Fault(kOne, {.request = "GET_STATUS", .action = FaultAction::Busy});
        TTERVADevice2 upgrader(w.context);
        EXPECT_EQ(w.Run(upgrader, Images{}), kSuccess);
        const auto polls = w.Writes("GET_STATUS");
        ASSERT_EQ(polls.size(), 200u);
        EXPECT_EQ(polls.back().timeUs - w.Writes("FLASH_ERASE").at(0).timeUs, 20'000'000);
        EXPECT_EQ(w.Writes("FLASH_WRITE").at(0).timeUs - polls.back().timeUs, 11'000'000);
    }
    {
        VelkaroWorld w(Velkaros({kOne}));
        w.Fault(kOne, On("reappear", 1, FaultAction::Never));
        TTERVADevice2 upgrader(w.context);
        EXPECT_EQ(w.Run(upgrader, Images{}), "Error");
        const auto close = w.world.bench.select("close2").at(0).timeUs;
        std::size_t attempts = 0;
        for (const auto& open : w.world.bench.select("open2"))
            if (open.timeUs > close) {
                EXPECT_EQ(open.timeUs - close, static_cast<std::int64_t>(++attempts) * 4'000'000);
            }
        EXPECT_EQ(attempts, 11u);
    }
}

// Several instruments.

const std::vector<std::string> kTwo{"TV000001", "TV000002"};

TEST(VelkaroSeveral, EachStageCarriesItsDevicePrefixAndBothAreUpgraded) {
    VelkaroWorld w(Velkaros(kTwo));
    TTERVADevice2 upgrader(w.context);
    const Images images;
    EXPECT_EQ(w.Run(upgrader, images), kSuccess);
    EXPECT_THAT(w.watch.stages, ElementsAre("Device 1/2 - USB Pic uploading", "Device 1/2 - FPGA uploading",
                                            "Device 2/2 - USB Pic uploading", "Device 2/2 - FPGA uploading"));
    EXPECT_TRUE(w.Holds(kTwo[0], images));
    EXPECT_TRUE(w.Holds(kTwo[1], images));
    EXPECT_EQ(upgrader.GetDoneCount(), upgrader.GetTotalCount());
}

TEST(VelkaroSeveral, AnyFailingInstrumentMakesTheRunAnError) {
    for (int failing : {0, 1}) {
        SCOPED_TRACE(failing);
        VelkaroWorld w(Velkaros(kTwo));
        w.Fault(kTwo[failing], On("FLASH_READ", 2, FaultAction::Corrupt));
        TTERVADevice2 upgrader(w.context);
        const Images images;
        EXPECT_EQ(w.Run(upgrader, images), "Error: " + kTrail + "FLASH verification failed");
        EXPECT_TRUE(w.Holds(kTwo[1 - failing], images));
        EXPECT_TRUE(w.instrument(kTwo[1 - failing]).fpgaPower());
        EXPECT_FALSE(w.instrument(kTwo[failing]).fpgaPower());
    }
}

TEST(VelkaroSeveral, TheInstrumentNotChosenKeepsItsMemories) {
    VelkaroWorld w(Velkaros({"TV000001", "TV000002", "TV000003"}));
    w.world.op.deviceAnswer = std::vector<bool>{true, false, true};
    TTERVADevice2 upgrader(w.context);
    const Images images;
    EXPECT_EQ(w.Run(upgrader, images), kSuccess);
    EXPECT_TRUE(w.Holds("TV000001", images));
    EXPECT_TRUE(w.Holds("TV000003", images));
    EXPECT_TRUE(w.Untouched("TV000002"));
    EXPECT_TRUE(w.instrument("TV000002").fpgaPower());
    EXPECT_EQ(w.watch.stages.back(), "Device 2/2 - FPGA uploading");
}

TEST(VelkaroSeveral, APackageOfAnotherKindSwitchesEveryFpgaOffAndWritesNothing) {
    VelkaroWorld w(Velkaros(kTwo));
    TTERVADevice2 upgrader(w.context);
    EXPECT_EQ(w.Run(upgrader, Images{.deviceType = 5}), "Instrument or FWU file is not TERVA!");
    for (const auto& serial : kTwo) {
        EXPECT_FALSE(w.instrument(serial).fpgaPower());
        EXPECT_TRUE(w.Untouched(serial));
    }
    EXPECT_EQ(w.Writes("MEM_WRITE").size(), 0u);
    EXPECT_EQ(w.world.bench.bench().openHandles(), 0u);
}

// A family whose device name check throws on the instrument at `throwAt`.
class ThrowingTerva final : public TTERVADevice2 {
public:
    ThrowingTerva(const Context& ctx, std::size_t throwAt) : TTERVADevice2(ctx), throwAt_(throwAt) {}
    std::string GetDeviceName() override {
        if (asked_++ == throwAt_) throw std::runtime_error("name");
        return TTERVADevice2::GetDeviceName();
    }

private:
    std::size_t throwAt_;
    std::size_t asked_ = 0;
};

// The flash image is read from the work folder while it is written: a piece rewritten after the
// images were checked never reaches the flash.
TEST(VelkaroUpgrade, AFlashImageRewrittenAfterItWasCheckedIsNotWritten) {
    VelkaroWorld w(Velkaros({kOne}));
    TTERVADevice2 upgrader(w.context);
    const Images images{.fpga = Pattern(ImageFile::kPieceSize + 100, 0x22)};
    const auto file = w.context.folders.work / "fpga.bin";
    w.watch.onSleep = [&](std::uint32_t ms) {
        if (ms != 1000 || !std::filesystem::exists(file)) return;  // the wait before the erase
        std::fstream(file, std::ios::binary | std::ios::in | std::ios::out).seekp(ImageFile::kPieceSize + 5) << 'x';
    };
    EXPECT_EQ(w.Run(upgrader, images), "Error: " + kTrail + "Exception");
    ASSERT_TRUE(upgrader.Reason());
    EXPECT_THAT(upgrader.Reason()->text, ::testing::HasSubstr("fpga.bin changed after it was checked"));
    EXPECT_EQ(w.instrument(kOne).flash().extent(), ImageFile::kPieceSize);
    EXPECT_EQ(w.instrument(kOne).flash().read(0, ImageFile::kPieceSize),
              Bytes(images.fpga.begin(), images.fpga.begin() + ImageFile::kPieceSize));
}

TEST(VelkaroSeveral, AnExceptionEndsTheRunWithErrorAndTheTrailSoFar) {
    // A wait that throws: the first is the reopen's (the run ends "Error"), the second the
    // flash procedure's own (its trail says "Exception").
    for (const auto& [sleep, message] : {std::pair{1, std::string("Error")}, std::pair{2, "Error: " + kTrail + "Exception"}}) {
        VelkaroWorld w(Velkaros({kOne}));
        w.watch.throwAtSleep = sleep;
        TTERVADevice2 upgrader(w.context);
        EXPECT_EQ(w.Run(upgrader, Images{}), message);
        EXPECT_EQ(w.instrument(kOne).erases(), 0u);
        EXPECT_EQ(w.world.bench.bench().openHandles(), 0u);
    }
    {
        VelkaroWorld w(Velkaros({kOne}));
        ThrowingTerva upgrader(w.context, 0);
        EXPECT_EQ(w.Run(upgrader, Images{}), "Error");
        EXPECT_EQ(w.world.bench.bench().openHandles(), 0u);
    }
    {
        VelkaroWorld w(Velkaros(kTwo));
        w.Fault(kTwo[0], On("MEM_WRITE", 1, FaultAction::Fail));
        ThrowingTerva upgrader(w.context, 1);
        EXPECT_EQ(w.Run(upgrader, Images{}), "Error: " + kTrail + "EEPROM Write");
        EXPECT_TRUE(w.Untouched(kTwo[1]));
        EXPECT_EQ(w.world.bench.bench().openHandles(), 0u);
    }
}

TEST(VelkaroUpgrade, ImagesAreReadWholeWithinTheirLimitsAndCountTwice) {
    VelkaroWorld w(Velkaros({kOne}));
    TTERVADevice2 upgrader(w.context);
    EXPECT_EQ(upgrader.GetTotalCount(), 0);
    const auto usb = w.world.folder.path() / "USB.bin";
    const auto fpga = w.world.folder.path() / "fpga.bin";
    WriteFileBytes(usb, std::string(1000, 1));
    WriteFileBytes(fpga, std::string(3000, 2));
    ASSERT_TRUE(upgrader.PrepareImages(usb, fpga));
    EXPECT_EQ(upgrader.GetTotalCount(), 8000);

    // The largest images the memories take, and one byte more; a folder in an image's place.
    struct Row {
        std::uintmax_t usbSize, fpgaSize;
        bool prepared;
    };
    for (const Row& row : {Row{65536, 16u << 20, true}, Row{65537, 1, false}, Row{1, (16u << 20) + 1, false}}) {
        std::filesystem::resize_file(usb, row.usbSize);
        std::filesystem::resize_file(fpga, row.fpgaSize);
        EXPECT_EQ(upgrader.PrepareImages(usb, fpga), row.prepared) << row.usbSize << " " << row.fpgaSize;
        EXPECT_EQ(upgrader.GetTotalCount(), row.prepared ? 2 * static_cast<std::int64_t>(row.usbSize + row.fpgaSize) : 0);
    }
    const auto folder = w.world.folder.path() / "folder.bin";
    std::filesystem::create_directory(folder);
    EXPECT_FALSE(upgrader.PrepareImages(folder, fpga));
    EXPECT_EQ(w.world.bench.requests().size(), 0u);
}

}  // namespace
}  // namespace rovenza
