#pragma once
// "VKUSB Zenara - Modules": the plug-in amplifier modules of one or more Zenara instruments.
// For every slot the module is asked for its type (the operator names it when the module
// cannot), the image of that type is loaded, and it is written in 10-byte blocks through the
// module command channel, each group of eight blocks confirmed by the module's XOR checksum.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "USBDevice2.h"

namespace rovenza {

class TVKZenaraModulDevice : public TUSBDevice2 {
public:
    static constexpr std::int32_t kDeviceType = 5;

    explicit TVKZenaraModulDevice(const Context& ctx);
    ~TVKZenaraModulDevice() override;

    // Opens and chooses as the second generation does, then readies each instrument's bridge
    // and module slots.
    bool Open(const std::string& id) override;
    std::string GetInfoText() override { return {}; }
    std::string GetDeviceName() override { return "VKUSB Zenara - Modules"; }
    // The current module image's length less 1536 (-1536 before the first module).
    std::int64_t GetTotalCount() override { return totalCount_.load(std::memory_order_relaxed); }
    void Upgrade(std::string& message) override;

    // One slot (0 to 7): true when the image was written and every group checksum matched.
    // A module image that cannot be read raises, ending the whole run.
    bool UpgradeModule(std::uint8_t slot, Handle handle);

    std::vector<std::uint8_t> ModuleImage;

private:
    // Keeps "module N of <instrument>: `what`" as the run's reason and returns false.
    bool ModuleFailed(std::uint8_t slot, const std::string& what);

    std::atomic<std::int64_t> totalCount_{-static_cast<std::int64_t>(kModuleImageStart)};
    std::string instrument_ = "the instrument";  // the label of the instrument whose slots are upgraded
};

}  // namespace rovenza
