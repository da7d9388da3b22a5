#pragma once
// The device selection dialog: one item per attached second-generation instrument, all
// checked at first; "Upgrade" confirms the checked ones.
#include <vector>

#include <QDialog>

#include "frontend/MainWindowLogic.h"

class QListWidget;
class QPushButton;

namespace rovenza {

class TSelectDeviceForm final : public QDialog {
    Q_OBJECT
public:
    static constexpr int kUpgradeResult = kConfirmResult;  // modal result of the "Upgrade" button

    explicit TSelectDeviceForm(QWidget* parent = nullptr);

    // Controls, in tab order.
    QPushButton* UpgradeButton;
    QListWidget* DevicesCheckListBox;
    QPushButton* Button1;

    // Appends a checked item.
    void AddDevice(const QString& text);
    int CheckedCount() const;
    std::vector<bool> CheckMarks() const;
    // "Select All": checks every item; the dialog stays open.
    void Button1Click();

private:
    DeviceChoice Choice() const;
    void ShowChecks(const DeviceChoice& choice);
};

}  // namespace rovenza
