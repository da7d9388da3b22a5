#include "USBDevice2.h"

#include <algorithm>

#include "usb/VELKUSB.h"
#include "usb/VELKUSB_Const.h"
#include "usb/VELKUSB_Enum.h"

namespace rovenza {

namespace {

constexpr std::uint8_t kModeNormal = 1;

// The dialog's item for an open instrument: mode set, identity record read (a record that
// cannot be read shows the serial of a zeroed one).
std::string ReadSerialItem(const Context& ctx, Handle handle) {
    SET_MODE(ctx, handle, kModeNormal);
    SerialBlock record{};
    ReadSerialBlock(ctx, handle, record);
    return TUSBDevice2::SerialItem(record);
}

}  // namespace

TUSBDevice2::TUSBDevice2(const Context& ctx) : TUSBDevice(ctx) {}

TUSBDevice2::~TUSBDevice2() { TUSBDevice2::Close(""); }

int TUSBDevice2::IndexOf(const std::string& id) const {
    const std::string wanted = AsciiUpper(id);
    for (std::size_t i = 0; i < DeviceNames.size(); ++i)
        if (AsciiUpper(DeviceNames[i]) == wanted) return static_cast<int>(i);
    return -1;
}

bool TUSBDevice2::Open(const std::string& id) {
    if (!Handles.empty()) {
        if (id.empty()) return false;
        const int index = IndexOf(id);
        if (index < 0 || static_cast<std::size_t>(index) >= Handles.size()) return false;
        try {
            Handle handle = kInvalidHandle;
            OpenChannel2(ctx_, DeviceNames[static_cast<std::size_t>(index)], handle);
            Handles[static_cast<std::size_t>(index)] = handle;
            return handle != kInvalidHandle;
        } catch (...) {
            return false;
        }
    }
    try {
        DeviceNames.clear();
        TDeviceList list;
        list.Refresh(ctx_, kSecondGenerationClass);
        if (list.Count() == 0) return false;
        for (std::size_t i = 0; i < list.Count(); ++i) {
            const std::string& path = list.Items(i).DevicePath;
            Handle handle = kInvalidHandle;
            OpenChannel2(ctx_, path, handle);
            if (handle == kInvalidHandle) continue;  // skipped silently
            Handles.push_back(handle);
            DeviceNames.push_back(path);
        }
        if (Handles.size() == 1) {
            SET_MODE(ctx_, Handles.front(), kModeNormal);
        } else if (Handles.size() > 1) {
            std::vector<std::string> items;
            for (Handle handle : Handles) items.push_back(ReadSerialItem(ctx_, handle));
            const std::optional<std::vector<bool>> checks = ctx_.op.chooseDevices(items);
            auto checked = [&](std::size_t i) { return checks && i < checks->size() && (*checks)[i]; };
            std::size_t checkedCount = 0;
            for (std::size_t i = 0; i < items.size(); ++i) checkedCount += checked(i) ? 1 : 0;
            if (checkedCount >= 1) {
                // From the last to the first, so the item indices stay the list positions.
                for (std::size_t i = items.size(); i-- > 0;)
                    if (!checked(i)) DropDevice(static_cast<int>(i));
            } else {
                NoteReason(ReasonKind::Instrument, checks ? "none of the " + std::to_string(items.size()) +
                                                                " attached instruments was chosen"
                                                          : std::string("the choice of instruments was cancelled"));
                Close("");
            }
        }
        return !Handles.empty();
    } catch (...) {
        // Nothing stays open behind a failed Open.
        for (Handle& handle : Handles) CloseChannel2(ctx_, handle);
        Handles.clear();
        DeviceNames.clear();
        return false;
    }
}

bool TUSBDevice2::Close(const std::string& id) {
    try {
        if (id.empty()) {
            const bool any = !Handles.empty();
            for (Handle& handle : Handles) CloseChannel2(ctx_, handle);
            Handles.clear();
            DeviceNames.clear();
            return any;
        }
        const int index = IndexOf(id);
        if (index < 0 || static_cast<std::size_t>(index) >= Handles.size()) return false;
        CloseChannel2(ctx_, Handles[static_cast<std::size_t>(index)]);
        return true;
    } catch (...) {
        return false;
    }
}

void TUSBDevice2::DropDevice(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= Handles.size()) return;
    const auto at = static_cast<std::size_t>(index);
    Close(DeviceNames[at]);
    Handles.erase(Handles.begin() + index);
    DeviceNames.erase(DeviceNames.begin() + index);
}

std::string TUSBDevice2::FormatSerialNumber(const std::uint8_t* serial) {
    if (serial[7] != 0) return std::string(reinterpret_cast<const char*>(serial), 8);
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | serial[i];
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return text;
}

std::string TUSBDevice2::SerialItem(const SerialBlock& record) {
    return std::string(kSerialItemPrefix) + FormatSerialNumber(record.data() + kSerialOffset);
}

std::vector<SecondGenerationInstrument> ListSecondGeneration(const Context& ctx) {
    std::vector<SecondGenerationInstrument> found;
    TDeviceList list;
    list.Refresh(ctx, kSecondGenerationClass);
    for (std::size_t i = 0; i < list.Count(); ++i) {
        SecondGenerationInstrument instrument{list.Items(i).DevicePath, list.Items(i).FriendlyName, {}};
        Handle handle = kInvalidHandle;
        if (!instrument.path.empty()) OpenChannel2(ctx, instrument.path, handle);
        if (handle != kInvalidHandle) {
            instrument.item = ReadSerialItem(ctx, handle);
            CloseChannel2(ctx, handle);
        }
        found.push_back(std::move(instrument));
    }
    return found;
}

}  // namespace rovenza
