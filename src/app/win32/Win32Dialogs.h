#pragma once
// The two upgrade dialogs and the message box, drawn with the system's own controls, and the
// operator that shows them on the main window's thread on the worker's behalf.
#include <windows.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "frontend/MainWindowLogic.h"
#include "platform/Operator.h"

namespace rovenza {

// The device selection dialog ("Deviecs"), modal over `owner`; returns its modal result and
// leaves the operator's check marks in `choice`.
int RunDeviceDialog(HWND owner, DeviceChoice& choice);

// The module type dialog ("Module Type") for a slot counted from 0, modal over `owner`;
// returns its modal result and sets `entryIndex` to the chosen list entry.
int RunModuleTypeDialog(HWND owner, int slot, int& entryIndex);

class Win32Operator final : public Operator {
public:
    // The main window: owner of the dialogs and message boxes, and the thread that shows them.
    // Until it is set they are shown by the asking thread without an owner.
    void setOwner(HWND owner) { owner_ = owner; }

    std::optional<std::vector<bool>> chooseDevices(const std::vector<std::string>& items) override;
    std::optional<int> chooseModuleType(int slot) override;
    void showMessage(const std::string& title, const std::string& text) override;

private:
    std::atomic<HWND> owner_{nullptr};
};

}  // namespace rovenza
