#pragma once
// Stands in for a second-generation family whose programming this build does not carry yet:
// the run unpacks the package and opens and chooses the instruments as the family would, then
// closes every handle and ends with a message saying that nothing was programmed.
#include <string>

#include "USBDevice2.h"

namespace rovenza {

class TNotBuiltDevice : public TUSBDevice2 {
public:
    TNotBuiltDevice(const Context& ctx, std::string familyName, std::int32_t deviceType);

    std::string GetInfoText() override { return {}; }
    std::string GetDeviceName() override { return familyName_; }
    std::int64_t GetTotalCount() override { return 1; }
    void Upgrade(std::string& message) override;

private:
    std::string familyName_;
};

}  // namespace rovenza
