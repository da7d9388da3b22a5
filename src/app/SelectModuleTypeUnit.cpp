#include "app/SelectModuleTypeUnit.h"


#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "app/FormStyle.h"
#include "catalog/InstrumentCatalog.h"

namespace rovenza {

namespace {

constexpr int kModuleLabelWidth = 142;

}  // namespace

TSelectModuleTypeForm::TSelectModuleTypeForm(QWidget* parent) : QDialog(parent, Qt::Dialog | kCloseBoxOnly) {
    setWindowTitle(QStringLiteral("Module Type"));
    setFont(FormFont());
    setFixedSize(422, 59);

    ModuleLabel = PlaceControl<QLabel>(this, "ModuleLabel", 8, 11, kModuleLabelWidth, 13,
                                       QStringLiteral("Module I cannot be detected."));
    SetTextColor(ModuleLabel, Qt::red);
    Label2 = PlaceControl<QLabel>(this, "Label2", 8, 31, 174, 13, QStringLiteral("Please, select the new module type:"));
    ModuleTypeComboBox = PlaceControl<QComboBox>(this, "ModuleTypeComboBox", 188, 28, 145, 21);
    ModuleTypeComboBox->setEditable(false);
    // The catalogue lists the types in the order of their codes: entry index + 1 is the code.
    for (const ModuleTypeEntry& type : kModuleTypes)
        ModuleTypeComboBox->addItem(QString::fromLatin1(type.name.data(), static_cast<qsizetype>(type.name.size())));
    ModuleTypeComboBox->setCurrentIndex(0);
    OKButton = PlaceControl<QPushButton>(this, "OKButton", 339, 26, 75, 25, QStringLiteral("OK"));

    setTabOrder(ModuleTypeComboBox, OKButton);
    connect(OKButton, &QPushButton::clicked, this, [this] { done(kOkResult); });
    FitCaptions(this);
}

void TSelectModuleTypeForm::SetUndetectedSlot(int slot) {
    ModuleLabel->setText(QStringLiteral("Module %1 cannot be detected!").arg(slot + 1));
    // The label grows with its caption from its design width; nothing shares its band, so only
    // the dialog's right margin limits it (the dialog widens past that).
    ModuleLabel->resize(kModuleLabelWidth, ModuleLabel->height());
    FitCaptions(this);
}

}  // namespace rovenza
