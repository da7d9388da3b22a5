#pragma once
// The module type dialog: names a module slot whose type could not be detected and lets the
// operator choose the type; "OK" confirms the choice.
#include <QDialog>

#include "frontend/MainWindowLogic.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace rovenza {

class TSelectModuleTypeForm final : public QDialog {
    Q_OBJECT
public:
    static constexpr int kOkResult = kConfirmResult;  // modal result of the "OK" button

    explicit TSelectModuleTypeForm(QWidget* parent = nullptr);

    QLabel* ModuleLabel;
    QLabel* Label2;
    QComboBox* ModuleTypeComboBox;  // entry index + 1 is the module type code
    QPushButton* OKButton;

    // "Module <slot + 1> cannot be detected!" for a slot counted from 0.
    void SetUndetectedSlot(int slot);
};

}  // namespace rovenza
