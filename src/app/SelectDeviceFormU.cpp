#include "app/SelectDeviceFormU.h"

#include <QListWidget>
#include <QPushButton>

#include "app/FormStyle.h"
#include "frontend/MainWindowLogic.h"

namespace rovenza {


TSelectDeviceForm::TSelectDeviceForm(QWidget* parent) : QDialog(parent, Qt::Dialog | kCloseBoxOnly) {
    setWindowTitle(Latin1(kDevicesCaption));
    setFont(FormFont());
    setFixedSize(kDevicesClient.width, kDevicesClient.height);

    UpgradeButton = PlaceControl<QPushButton>(this, kUpgradeButton);
    DevicesCheckListBox = PlaceControl<QListWidget>(this, kDevicesCheckListBox);
    DevicesCheckListBox->setUniformItemSizes(true);
    Button1 = PlaceControl<QPushButton>(this, kSelectAllButton);

    setTabOrder(UpgradeButton, DevicesCheckListBox);
    setTabOrder(DevicesCheckListBox, Button1);

    connect(UpgradeButton, &QPushButton::clicked, this, [this] { done(kConfirmResult); });
    connect(Button1, &QPushButton::clicked, this, &TSelectDeviceForm::Button1Click);
    FitCaptions(this);
}

void TSelectDeviceForm::AddDevice(const QString& text) {
    auto* item = new QListWidgetItem(text, DevicesCheckListBox);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
    const int width = DevicesCheckListBox->width() - 2 * DevicesCheckListBox->frameWidth();
    item->setSizeHint(QSize(width, kDeviceItemHeight));
}

DeviceChoice TSelectDeviceForm::Choice() const {
    DeviceChoice choice({});
    for (int i = 0; i < DevicesCheckListBox->count(); ++i) {
        const QListWidgetItem* item = DevicesCheckListBox->item(i);
        choice.items.push_back(item->text().toStdString());
        choice.checks.push_back(item->checkState() == Qt::Checked);
    }
    return choice;
}

void TSelectDeviceForm::ShowChecks(const DeviceChoice& choice) {
    for (int i = 0; i < DevicesCheckListBox->count(); ++i)
        DevicesCheckListBox->item(i)->setCheckState(choice.checks[static_cast<std::size_t>(i)] ? Qt::Checked
                                                                                               : Qt::Unchecked);
}

int TSelectDeviceForm::CheckedCount() const { return Choice().CheckedCount(); }

std::vector<bool> TSelectDeviceForm::CheckMarks() const { return Choice().checks; }

void TSelectDeviceForm::Button1Click() {
    DeviceChoice choice = Choice();
    choice.SelectAll();
    ShowChecks(choice);
}

}  // namespace rovenza
