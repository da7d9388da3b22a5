// The PIC boot-loader writer of the upgrader base: switch the running firmware into its boot
// loader, then erase, write, read back and verify program memory row by row.
#include "USBDevice.h"
#include "protocols/PicBootLoader.h"
#include "usb/VELKUSB.h"
#include "usb/VELKUSB_Const.h"
#include "usb/VELKUSB_Enum.h"

namespace rovenza {

namespace {

constexpr std::uint32_t kSwitchSettleMs = 2000;
constexpr std::uint32_t kReopenIntervalMs = 1000;
constexpr int kReopenAttempts = 21;
constexpr std::uint32_t kPacketWaitMs = 5;
constexpr std::uint32_t kRepeatWaitMs = 200;
constexpr std::uint32_t kEepromWaitMs = 25;
constexpr std::uint32_t kRestartWaitMs = 5000;
constexpr std::uint32_t kEraseReplyLimit = 1;
constexpr std::uint32_t kEepromReplyLimit = 1;

}  // namespace

bool TUSBDevice::GoBootLoad() {
    const std::string instrument = CurrentInstrument();
    // Nothing has been sent yet: the instrument still runs its firmware.
    if (StopHere("before " + instrument + " left its firmware")) return false;
    // Boot loaders listed now belong to other instruments, unless the one open is among them.
    std::vector<std::string> before = ListFirstGeneration(ctx_).withPid(kPidBootLoader);
    std::erase_if(before, [&](const std::string& path) { return ContainsPath({openedPath_}, path); });

    const Handle handle = FirstHandle();
    std::uint8_t reply[64] = {};
    std::uint32_t replyLimit = sizeof reply;
    // The firmware restarts at once and need not answer.
    CommandExchange(ctx_, handle, kEnterBootLoaderCommand.data(), kEnterBootLoaderCommand.size(), kDefaultParameter,
                    kRestartReadParameter, reply, replyLimit);
    ResetPipe(ctx_, handle, 0);
    CloseChannel(ctx_, handle);
    Handles.clear();

    ctx_.clock.sleep(kSwitchSettleMs);
    for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
        if (StopHere("while " + instrument + " was on its way into its boot loader")) return false;
        ctx_.clock.sleep(kReopenIntervalMs);
        switch (OpenNewPath(before, {kPidBootLoader})) {
            case Reopen::Opened: return true;
            case Reopen::Ambiguous:
                NoteReason(ReasonKind::Instrument, "several boot loaders appeared after " + instrument +
                                                       " left its firmware; none of them was opened");
                return false;
            case Reopen::NotYet: break;
        }
    }
    NoteReason(ReasonKind::Instrument, instrument + " did not come back in its boot loader within " +
                                           std::to_string(kReopenAttempts) + " tries");
    return false;
}

bool TUSBDevice::WriteDataToUSBPic(const HexImage& image) {
    if (!GoBootLoad()) {
        AppendTrail("GoBootLoad");
        return false;
    }
    const Handle handle = FirstHandle();
    const std::string instrument = CurrentInstrument();
    // Where the writer is, for the reason of a failure: the row, or kRowCount for the EEPROM byte.
    std::uint32_t at = 0;
    const auto where = [&] {
        if (at == kRowCount) return std::string("for the EEPROM byte");
        return "at row " + std::to_string(at + 1) + " of " + std::to_string(kRowCount);
    };

    BootLoaderPacket packet;
    std::uint8_t reply[64] = {};
    std::uint32_t replyLimit = 0;
    // One exchange of the packet; false (with the step's trail entry) when it fails.
    auto send = [&](PicCommand cmd, std::uint8_t len, std::uint16_t address, std::uint32_t limit,
                    std::string_view step) {
        packet.SetHeader(cmd, len, address);
        replyLimit = limit;
        if (const std::uint32_t code = CommandExchange(ctx_, handle, packet.data(), kBootPacketSize, kDefaultParameter,
                                                       kDefaultParameter, reply, replyLimit);
            code != 0) {
            AppendTrail(step);
            NoteReason(ReasonKind::Instrument,
                       instrument + ": " + std::string(step) + " failed " + where() + " (error " + std::to_string(code) + ")");
            return false;
        }
        return true;
    };
    auto fail = [&] {
        AppendTrail("WriteDataToUSBPic");
        return false;
    };

    for (std::uint32_t row = 0; row < kRowCount; ++row) {
        // Between rows the boot loader, which is never written, keeps the instrument reachable.
        if (row > 0 && StopHere([&] {
                return "after row " + std::to_string(row) + " of " + std::to_string(kRowCount) + " of " + instrument +
                       "'s program memory; it stays in its boot loader";
            }))
            return false;
        Step();
        const std::uint8_t* rowBytes = image.bytes.data() + kRowSize * row;
        const std::uint16_t address = RowAddress(row);
        at = row;
        packet.SetData(rowBytes, kRowSize);

        if (row % 2 == 0) {
            if (!send(PicCommand::ERASE_FLASH, kRowSize, address, kEraseReplyLimit, "ERASE_FLASH")) return fail();
            ctx_.clock.sleep(kPacketWaitMs);
        }
        if (!send(PicCommand::WRITE_FLASH, kRowSize, address, kReadFlashReplySize, "WRITE_FLASH")) return fail();
        ctx_.clock.sleep(kPacketWaitMs);
        if (!send(PicCommand::READ_FLASH, kRowSize, address, kReadFlashReplySize, "READ_FLASH")) return fail();
        ctx_.clock.sleep(kPacketWaitMs);

        if (ReadBackMatches(reply, replyLimit, rowBytes)) continue;

        // One repeat of the row. The repeats keep the reply limit the last read left.
        ctx_.clock.sleep(kRepeatWaitMs);
        AppendTrail("WRITE_FLASH2");
        packet.SetData(rowBytes, kRowSize);
        if (!send(PicCommand::WRITE_FLASH, kRowSize, address, replyLimit, "WRITE_FLASH2")) return fail();
        ctx_.clock.sleep(kRepeatWaitMs);
        if (!send(PicCommand::READ_FLASH, kRowSize, address, replyLimit, "READ_FLASH2")) return fail();
        ctx_.clock.sleep(kRepeatWaitMs);
        if (!ReadBackMatches(reply, replyLimit, rowBytes)) {
            AppendTrail("Verification failed");
            NoteReason(ReasonKind::Instrument,
                       instrument + ": row " + std::to_string(row + 1) + " of " + std::to_string(kRowCount) +
                           " of the program memory read back different, also after it was written again");
            return fail();
        }
    }

    Step();
    at = kRowCount;
    const std::uint8_t eepromByte = 0xFF;
    packet.SetData(&eepromByte, 1);
    if (!send(PicCommand::WRITE_EEDATA, 1, kEepromAddress, kEepromReplyLimit, "WRITE_EEDATA")) return fail();
    ctx_.clock.sleep(kEepromWaitMs);

    Step();
    pathsBeforeRestart_ = ListFirstGeneration(ctx_).paths;
    const std::uint8_t resetByte = 0x00;
    packet.SetData(&resetByte, 1);
    // BOOT_RESET keeps the address the previous packet left; the microcontroller restarts and
    // does not answer, so the result does not count.
    packet.SetHeader(PicCommand::BOOT_RESET, 1, kEepromAddress);
    replyLimit = 0;
    CommandExchange(ctx_, handle, packet.data(), kBootPacketSize, kDefaultParameter, kRestartReadParameter, reply,
                    replyLimit);
    ResetPipe(ctx_, handle, 0);
    CloseChannel(ctx_, handle);
    Handles.clear();
    ctx_.clock.sleep(kRestartWaitMs);
    return true;
}

}  // namespace rovenza
