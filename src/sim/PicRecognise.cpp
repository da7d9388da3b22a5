// Which command a packet carries, as the instrument in its current mode reads it.
#include <algorithm>

#include "PicInstrument.h"

namespace rovenza::sim {

namespace {

bool IsGoBootLoader(Packet p) { return p.size() >= 3 && p[0] == 0x10 && p[1] == 0x00 && p[2] == 0x00; }

// Firmware commands of the form 00 02 00 <letter> ...
bool IsFirmwareCommand(Packet p, std::uint8_t letter, std::size_t minSize) {
    return p.size() >= minSize && p[0] == 0x00 && p[1] == 0x02 && p[2] == 0x00 && p[3] == letter;
}

Command RecogniseBootLoader(Packet p) {
    if (IsGoBootLoader(p)) return Command::GoBootLoader;
    if (p.size() < 5) return Command::None;  // no complete header
    switch (p[0]) {
        case 0x01: return Command::ReadFlash;
        case 0x02: return Command::WriteFlash;
        case 0x03: return Command::EraseFlash;
        case 0x05: return Command::WriteEedata;
        case 0xFF: return Command::BootReset;
        default: return Command::None;
    }
}

Command RecogniseIrig(Packet p) {
    static constexpr std::uint8_t kPrmd[] = {'P', 'R', 'M', 'D'};
    if (IsFirmwareCommand(p, 0x50, 8) && std::equal(p.begin() + 4, p.begin() + 8, kPrmd)) return Command::Prmd;
    if (IsFirmwareCommand(p, 0x51, 4)) return Command::FpgaCmd2;
    if (IsFirmwareCommand(p, 0x52, 39)) return Command::FpgaWrite;
    if (IsFirmwareCommand(p, 0x53, 7)) return Command::FpgaRead;
    if (p.size() == 64 && p[0] == 0xFF) return Command::BootReset;  // the final reset packet
    return Command::None;
}

Command RecogniseUlmo(Packet p) {
    if (p.size() >= 39 && p[0] == 0x0A && p[1] == 0x00) return Command::CanFirst;
    if (p.size() >= 33 && p[0] == 0x0A && p[1] == 0x01) return Command::CanSecond;
    if (p.size() >= 2 && p[0] == 0x0B && p[1] == 0x00) return Command::CanFinish;
    return Command::None;
}

}  // namespace

Command Recognise(FamilyId family, PicMode mode, Packet p) {
    if (mode == PicMode::BootLoader) return RecogniseBootLoader(p);
    if (IsGoBootLoader(p)) return Command::GoBootLoader;
    if (IsFirmwareCommand(p, 0x0D, 4)) return Command::QueryName;
    if (family == FamilyId::IrigClock) return RecogniseIrig(p);
    if (family == FamilyId::Ulmo) return RecogniseUlmo(p);
    return Command::None;
}

}  // namespace rovenza::sim
