#include "app/SelectDeviceFormU.h"

#include <QListWidget>
#include <QPushButton>

#include "app/FormStyle.h"

namespace rovenza {

namespace {
constexpr int kItemHeight = 13;
}

TSelectDeviceForm::TSelectDeviceForm(QWidget* parent) : QDialog(parent, Qt::Dialog | kCloseBoxOnly) {
    setWindowTitle(QStringLiteral("Deviecs"));
    setFont(FormFont());
    setFixedSize(355, 139);

    UpgradeButton = PlaceControl<QPushButton>(this, "UpgradeButton", 271, 6, 75, 25, QStringLiteral("Upgrade"));
    DevicesCheckListBox = PlaceControl<QListWidget>(this, "DevicesCheckListBox", 8, 8, 257, 123);
    DevicesCheckListBox->setUniformItemSizes(true);
    Button1 = PlaceControl<QPushButton>(this, "Button1", 271, 37, 75, 25, QStringLiteral("Select All"));

    setTabOrder(UpgradeButton, DevicesCheckListBox);
    setTabOrder(DevicesCheckListBox, Button1);

    connect(UpgradeButton, &QPushButton::clicked, this, [this] { done(kUpgradeResult); });
    connect(Button1, &QPushButton::clicked, this, &TSelectDeviceForm::Button1Click);
    FitCaptions(this);
}

void TSelectDeviceForm::AddDevice(const QString& text) {
    auto* item = new QListWidgetItem(text, DevicesCheckListBox);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
    const int width = DevicesCheckListBox->width() - 2 * DevicesCheckListBox->frameWidth();
    item->setSizeHint(QSize(width, kItemHeight));
}

int TSelectDeviceForm::CheckedCount() const {
    int count = 0;
    for (int i = 0; i < DevicesCheckListBox->count(); ++i)
        if (DevicesCheckListBox->item(i)->checkState() == Qt::Checked) ++count;
    return count;
}

std::vector<bool> TSelectDeviceForm::CheckMarks() const {
    std::vector<bool> marks;
    for (int i = 0; i < DevicesCheckListBox->count(); ++i)
        marks.push_back(DevicesCheckListBox->item(i)->checkState() == Qt::Checked);
    return marks;
}

void TSelectDeviceForm::Button1Click() {
    for (int i = 0; i < DevicesCheckListBox->count(); ++i) DevicesCheckListBox->item(i)->setCheckState(Qt::Checked);
}

}  // namespace rovenza
