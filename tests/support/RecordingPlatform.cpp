#include "support/RecordingPlatform.h"

#include <algorithm>
#include <cstring>

#include "support/TempDir.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {

Handle ScriptedDriver::open(const std::string& path, std::uint32_t access, std::uint32_t share,
                            std::uint32_t& error) {
    opens.push_back({path, access, share});
    if (openError != 0) {
        error = openError;
        return kInvalidHandle;
    }
    error = 0;
    return nextHandle_++;
}

bool ScriptedDriver::ioControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                               std::uint32_t outSize, std::uint32_t& bytesReturned, std::uint32_t& error) {
    Request request{handle, code, {}, {}, outSize};
    const auto* input = static_cast<const std::uint8_t*>(in);
    if (input) request.input.assign(input, input + inSize);
    const bool isRead = code == kIoctlRead || code == kIoctlRead2;
    const auto* output = static_cast<const std::uint8_t*>(out);
    if (!isRead && output) request.output.assign(output, output + outSize);
    const bool fail = static_cast<long long>(requests.size()) == failAt;
    requests.push_back(std::move(request));
    bytesReturned = 0;
    if (fail) {
        error = failError;
        return false;
    }
    if (isRead && !replies.empty()) {
        const auto reply = replies.front();
        replies.pop_front();
        const auto n = std::min<std::size_t>(reply.size(), outSize);
        if (n) std::memcpy(out, reply.data(), n);
        bytesReturned = static_cast<std::uint32_t>(n);
    }
    error = 0;
    return true;
}

bool ListedInterfaces::enumerate(const InterfaceClassGuid& cls, std::vector<DeviceInterfaceEntry>& out) {
    if (classQueryFails) return false;
    const auto& list = cls == kFirstGenerationClass ? firstGeneration : secondGeneration;
    out.insert(out.end(), list.begin(), list.end());
    return true;
}

std::optional<std::vector<bool>> RecordingOperator::chooseDevices(const std::vector<std::string>& items) {
    deviceQuestions.push_back(items);
    if (cancelDevices) return std::nullopt;
    if (deviceAnswer) return deviceAnswer;
    return std::vector<bool>(items.size(), true);
}

std::optional<int> RecordingOperator::chooseModuleType(int slot) {
    moduleQuestions.push_back(slot);
    return moduleAnswer;
}

void RecordingOperator::showMessage(const std::string& title, const std::string& text) {
    messages.push_back({title, text});
}

RecordingPlatform::RecordingPlatform(DriverPort& driver, std::filesystem::path programFolder) {
    if (programFolder.empty()) programFolder = (ownedFolder_ = std::make_unique<TempDir>())->path();
    context_ = std::make_unique<Context>(Context{driver, interfaces, clock, debug, op, programFolder});
}

RecordingPlatform::RecordingPlatform(DriverPort& driver, DeviceInterfaces& otherInterfaces, Clock& otherClock,
                                     std::filesystem::path programFolder) {
    if (programFolder.empty()) programFolder = (ownedFolder_ = std::make_unique<TempDir>())->path();
    context_ = std::make_unique<Context>(Context{driver, otherInterfaces, otherClock, debug, op, programFolder});
}

RecordingPlatform::~RecordingPlatform() = default;

}  // namespace rovenza
