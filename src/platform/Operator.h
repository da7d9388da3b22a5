#pragma once
// The person at the screen: the modal dialogs and message boxes the upgrade needs.
#include <optional>
#include <string>
#include <vector>

namespace rovenza {

class Operator {
public:
    virtual ~Operator() = default;
    // Device selection: every item starts checked. Returns the check marks, or nothing when
    // the operator did not confirm.
    virtual std::optional<std::vector<bool>> chooseDevices(const std::vector<std::string>& items) = 0;
    // Module type for a slot (slot index from 0): the chosen type code, or nothing.
    virtual std::optional<int> chooseModuleType(int slot) = 0;
    // A message box with an OK button; blocks until dismissed.
    virtual void showMessage(const std::string& title, const std::string& text) = 0;
};

}  // namespace rovenza
