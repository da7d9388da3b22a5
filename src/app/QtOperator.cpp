#include "app/QtOperator.h"

#include <QComboBox>
#include <QListWidget>
#include <QMessageBox>

#include "app/GuiThreadCall.h"
#include "app/SelectDeviceFormU.h"
#include "app/SelectModuleTypeUnit.h"
#include "app/SystemText.h"

namespace rovenza {

QtOperator::QtOperator() = default;

void QtOperator::setOwner(QWidget* owner) { owner_ = owner; }

std::optional<std::vector<bool>> QtOperator::chooseDevices(const std::vector<std::string>& items) {
    return CallOnThreadOf(&relay_, [this, &items]() -> std::optional<std::vector<bool>> {
        TSelectDeviceForm form(owner_);
        form.DevicesCheckListBox->clear();
        for (const std::string& item : items) form.AddDevice(FromSystemText(item));
        const int result = form.exec();
        DeviceChoice choice(items);
        choice.checks = form.CheckMarks();
        return choice.Answer(result);
    });
}

std::optional<int> QtOperator::chooseModuleType(int slot) {
    return CallOnThreadOf(&relay_, [this, slot]() -> std::optional<int> {
        TSelectModuleTypeForm form(owner_);
        form.SetUndetectedSlot(slot);
        const int result = form.exec();
        return ModuleTypeAnswer(result, form.ModuleTypeComboBox->currentIndex());
    });
}

void QtOperator::showMessage(const std::string& title, const std::string& text) {
    CallOnThreadOf(&relay_, [this, &title, &text] {
        // Text only, an OK button and no icon; the message is shown as plain text.
        QMessageBox box(QMessageBox::NoIcon, FromSystemText(title), FromSystemText(text), QMessageBox::Ok, owner_);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    });
}

}  // namespace rovenza
