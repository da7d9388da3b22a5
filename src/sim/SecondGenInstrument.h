#pragma once
// A second-generation instrument ("Velkaro USB", "VKUSB Zenara - Modules"). For now it is
// modelled as far as the bus goes: it is listed under the second-generation class, it can be
// opened, and it restarts and vanishes like any instrument; its requests are not modelled yet
// and fail with 31. The bench file's module slots and fault rules are kept for the model.
#include <array>
#include <optional>

#include "sim/Instrument.h"

namespace rovenza::sim {

class SecondGenInstrument final : public Instrument {
public:
    explicit SecondGenInstrument(const InstrumentSpec& setup) : Instrument(setup), modules_(setup.modules) {}

    std::string_view pid() const override { return family().firmwarePid; }
    const std::array<std::optional<int>, kModuleSlots>& modules() const { return modules_; }

    void writeState(std::ostream& out) const override;
    void dumpMemories(const std::filesystem::path&) const override {}

private:
    std::array<std::optional<int>, kModuleSlots> modules_;
};

}  // namespace rovenza::sim
