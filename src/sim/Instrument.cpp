#include "Instrument.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace rovenza::sim {

const FamilyModel& ModelOf(FamilyId id) {
    for (const auto& model : kFamilyModels)
        if (model.id == id) return model;
    throw std::logic_error("unknown instrument family");
}

void SpoilFlashWrite(Bytes& data, std::optional<std::uint32_t> at) {
    if (data.empty()) return;
    if (at) {
        std::uint8_t& b = data[std::min<std::size_t>(*at, data.size() - 1)];
        b = b == 0 ? 0xFF : static_cast<std::uint8_t>(b & (b - 1));
        return;
    }
    const auto set = std::find_if(data.begin(), data.end(), [](std::uint8_t b) { return b != 0; });
    if (set == data.end())
        data[0] = 0xFF;
    else
        *set = static_cast<std::uint8_t>(*set & (*set - 1));
}

Instrument::Instrument(const InstrumentSpec& setup)
    : setup_(setup), serial_(setup.serial), family_(ModelOf(setup.family)) {
    setup_.faults.clear();
    setup_.memories.clear();
    setup_.memoryFiles.clear();
    setup_.arrivesMs.reset();
    for (const auto& rule : setup.faults) faults_.add(rule);
    if (!setup.present) present_ = false;  // unplugged: back only when plugged in
    if (setup.arrivesMs) {
        // Plugged in later: off the bus until then, as if it had never been there.
        present_ = false;
        arrivesAtUs_ = static_cast<std::int64_t>(*setup.arrivesMs) * 1000;
    }
}

std::string Instrument::devicePath() const {
    std::string pidText(pid());
    for (char& c : pidText)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    const std::string_view classText = generation() == 1 ? kFirstGenerationClassText : kSecondGenerationClassText;
    return "\\\\?\\usb#vid_" + std::string(kVendorId) + "&pid_" + pidText + "#" + serial_ + "#" +
           std::string(classText);
}

void Instrument::receive(Command command, Packet packet, std::int64_t nowUs, const FaultEffect& effect) {
    pending_.reset();
    innerFault_ = {};
    onTime(nowUs);
    act(command, packet, nowUs, effect);
}

void Instrument::update(std::int64_t nowUs) {
    onTime(nowUs);
    if (arrivesAtUs_ && nowUs >= *arrivesAtUs_) {
        arrivesAtUs_.reset();
        present_ = true;
    }
    if (!returnAtUs_ || nowUs < *returnAtUs_) return;
    returnAtUs_.reset();
    const auto rule = faults_.next(kRequestReappear);
    if (neverReturn_ || rule) return;  // "never" / "vanish": it stays away
    present_ = true;
}

void Instrument::leave() {
    if (present_) ++epoch_;
    present_ = false;
    pending_.reset();
    onLeave();
}

void Instrument::restart(std::int64_t nowUs, std::uint32_t delayMs) {
    leave();
    ++restarts_;
    returnAtUs_ = nowUs + static_cast<std::int64_t>(delayMs) * 1000;
}

void Instrument::vanish() {
    leave();
    returnAtUs_.reset();
}

void Instrument::reconnect() {
    returnAtUs_.reset();
    neverReturn_ = false;
    present_ = true;
}

InstrumentSpec Instrument::setupAsNow() const {
    InstrumentSpec asNow = setup_;
    asNow.present = present_ || (returnAtUs_ && !neverReturn_) || arrivesAtUs_;
    return asNow;
}

void Instrument::writeState(std::ostream& out) const {
    out << "family=" << family_.listText << '\n'
        << "serial=" << serial_ << '\n'
        << "generation=" << family_.generation << '\n'
        << "present=" << (present_ ? 1 : 0) << '\n'
        << "pid=" << pid() << '\n'
        << "restarts=" << restarts_ << '\n'
        << "neverReturns=" << (neverReturn_ ? 1 : 0) << '\n';
}

void WriteBinaryFile(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error(file.string() + ": cannot write the bench dump");
}

}  // namespace rovenza::sim
