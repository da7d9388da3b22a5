#include "app/SelectModuleTypeUnit.h"


#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "app/FormStyle.h"
#include "catalog/InstrumentCatalog.h"
#include "frontend/MainWindowLogic.h"

namespace rovenza {


TSelectModuleTypeForm::TSelectModuleTypeForm(QWidget* parent) : QDialog(parent, Qt::Dialog | kCloseBoxOnly) {
    setWindowTitle(Latin1(kModuleTypeCaption));
    setFont(FormFont());
    setFixedSize(kModuleTypeClient.width, kModuleTypeClient.height);

    ModuleLabel = PlaceControl<QLabel>(this, kModuleLabel);
    SetTextColor(ModuleLabel, Qt::red);
    Label2 = PlaceControl<QLabel>(this, kModuleTypeLabel2);
    ModuleTypeComboBox = PlaceControl<QComboBox>(this, kModuleTypeComboBox);
    ModuleTypeComboBox->setEditable(false);
    // The catalogue lists the types in the order of their codes: entry index + 1 is the code.
    for (const ModuleTypeEntry& type : kModuleTypes)
        ModuleTypeComboBox->addItem(Latin1(type.name));
    ModuleTypeComboBox->setCurrentIndex(0);
    OKButton = PlaceControl<QPushButton>(this, kOkButton);

    setTabOrder(ModuleTypeComboBox, OKButton);
    connect(OKButton, &QPushButton::clicked, this, [this] { done(kConfirmResult); });
    FitCaptions(this);
}

void TSelectModuleTypeForm::SetUndetectedSlot(int slot) {
    ModuleLabel->setText(Latin1(ModuleTypeLabel(slot)));
    // The label grows with its caption from its design width; nothing shares its band, so only
    // the dialog's right margin limits it (the dialog widens past that).
    ModuleLabel->resize(kModuleLabel.width, ModuleLabel->height());
    FitCaptions(this);
}

}  // namespace rovenza
