#include "SecondGenInstrument.h"

namespace rovenza::sim {

void SecondGenInstrument::writeState(std::ostream& out) const {
    Instrument::writeState(out);
    out << "mode=firmware\n";
    if (family().id != FamilyId::Zenara) return;
    for (int slot = 0; slot < kModuleSlots; ++slot) {
        out << "module" << slot + 1 << '=';
        if (modules_[slot]) out << *modules_[slot];
        out << '\n';
    }
}

}  // namespace rovenza::sim
