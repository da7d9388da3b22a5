// The windows as they stand when built: the controls of the main window and of the two
// upgrade dialogs (texts, positions, states, font), the forms themselves, their tab order and
// lists, the folders the main window makes, and the file dialog behind "...".
#include <filesystem>
#include <fstream>

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "GuiTestSupport.h"
#include "app/SelectDeviceFormU.h"
#include "app/SelectModuleTypeUnit.h"

using namespace rovenza;
using namespace rovenza::guitest;

namespace {

enum Form { kMain, kDevices, kModuleType };

// Those of `controls` that the focus chain from `first` reaches, in the chain's order.
QList<QWidget*> FocusChain(QWidget* first, const QList<QWidget*>& controls) {
    QList<QWidget*> chain;
    QWidget* widget = first;
    do {
        if (controls.contains(widget)) chain << widget;
        widget = widget->nextInFocusChain();
    } while (widget != first && chain.size() < controls.size());
    return chain;
}

QStringList Entries(const QComboBox* list) {
    QStringList entries;
    for (int i = 0; i < list->count(); ++i) entries << list->itemText(i);
    return entries;
}

bool FixedWithCloseBoxOnly(const QWidget& form) {
    return form.minimumSize() == form.maximumSize() && (form.windowFlags() & Qt::WindowCloseButtonHint) &&
           !(form.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
}

}  // namespace

class LayoutTest : public QObject {
    Q_OBJECT
private slots:
    void controls_data();
    void controls();
    void mainWindow();
    void dialogs();
    void openDialog();
};

void LayoutTest::controls_data() {
    QTest::addColumn<int>("form");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");  // a combo box's current entry; null: not checked
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<bool>("visible");

    QTest::newRow("Label1") << +kMain << "Label1" << "Device:" << QRect(13, 8, 36, 13) << true;
    QTest::newRow("cbDeviceList") << +kMain << "cbDeviceList" << "IRIG Clock" << QRect(64, 5, 235, 21) << true;
    QTest::newRow("bUpload") << +kMain << "bUpload" << "Upload" << QRect(332, 31, 75, 21) << true;
    QTest::newRow("lFWProcessing") << +kMain << "lFWProcessing" << "Processing..." << QRect(13, 60, 63, 13) << false;
    QTest::newRow("pbFWProcessing") << +kMain << "pbFWProcessing" << QString() << QRect(13, 76, 295, 17) << false;
    QTest::newRow("leUpgrade") << +kMain << "leUpgrade" << "" << QRect(64, 32, 235, 21) << true;
    QTest::newRow("bopenDialog") << +kMain << "bopenDialog" << "..." << QRect(302, 31, 24, 23) << true;
    QTest::newRow("lVer") << +kMain << "lVer" << "Version: " << QRect(314, 8, 42, 13) << true;
    QTest::newRow("lVersion") << +kMain << "lVersion" << "5.4" << QRect(370, 8, 16, 13) << true;
    QTest::newRow("UpgradeButton") << +kDevices << "UpgradeButton" << "Upgrade" << QRect(271, 6, 75, 25) << true;
    QTest::newRow("DevicesCheckListBox") << +kDevices << "DevicesCheckListBox" << QString() << QRect(8, 8, 257, 123) << true;
    QTest::newRow("Button1") << +kDevices << "Button1" << "Select All" << QRect(271, 37, 75, 25) << true;
    QTest::newRow("ModuleLabel") << +kModuleType << "ModuleLabel" << "Module I cannot be detected." << QRect(8, 11, 142, 13)
                                 << true;
    QTest::newRow("Label2") << +kModuleType << "Label2" << "Please, select the new module type:" << QRect(8, 31, 174, 13)
                            << true;
    QTest::newRow("ModuleTypeComboBox") << +kModuleType << "ModuleTypeComboBox" << "IEPE" << QRect(188, 28, 145, 21) << true;
    QTest::newRow("OKButton") << +kModuleType << "OKButton" << "OK" << QRect(339, 26, 75, 25) << true;
}

void LayoutTest::controls() {
    QFETCH(int, form);
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QRect, geometry);
    QFETCH(bool, visible);

    WindowFixture fixture;
    fixture.show();
    TSelectDeviceForm devices;
    TSelectModuleTypeForm moduleType;
    QWidget* const forms[] = {&fixture.window(), &devices, &moduleType};
    auto* control = forms[form]->findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(control->parentWidget(), forms[form]);
    // The main window's labels grow to the right where the substitute for a missing Tahoma
    // needs more room.
    if (auto* label = qobject_cast<QLabel*>(control); label && form == kMain && name != "lFWProcessing")
        geometry.setWidth(std::max(geometry.width(), label->fontMetrics().horizontalAdvance(label->text())));
    QCOMPARE(control->geometry(), geometry);
    QCOMPARE(control->isVisibleTo(forms[form]), visible);
    QVERIFY(control->isEnabled());
    QCOMPARE(control->font().family(), QStringLiteral("Tahoma"));
    QCOMPARE(control->font().pixelSize(), 11);
    if (auto* combo = qobject_cast<QComboBox*>(control))
        QCOMPARE(combo->currentText(), text);
    else if (!text.isNull())
        QCOMPARE(control->property("text").toString(), text);
}

void LayoutTest::mainWindow() {
    WindowFixture fixture;
    fixture.show();
    TMainForm& form = fixture.window();

    QCOMPARE(form.windowTitle(), QStringLiteral("Rovenza"));
    QCOMPARE(form.size(), QSize(414, 108));
    QVERIFY(FixedWithCloseBoxOnly(form));
    const QPoint offCentre = form.frameGeometry().center() - form.screen()->availableGeometry().center();
    QVERIFY2(offCentre.manhattanLength() <= 1, "not centred on the screen");
    QVERIFY(std::filesystem::is_directory(fixture.folder.path() / "Temp"));
    QVERIFY(std::filesystem::is_directory(fixture.folder.path() / "FWUs"));

    QCOMPARE(form.lFWProcessing->palette().color(QPalette::WindowText), QColor(Qt::red));
    QCOMPARE(form.pbFWProcessing->maximum(), 100);
    QCOMPARE(form.pbFWProcessing->value(), 0);
    QCOMPARE(form.Timer1->interval(), 30);
    QVERIFY(!form.Timer1->isActive());

    // The file-name box's label sits on its left, vertically centred on it.
    QCOMPARE(form.leUpgradeLabel->text(), QStringLiteral("File name:"));
    QCOMPARE(form.leUpgradeLabel->buddy(), form.leUpgrade);
    QCOMPARE(form.leUpgradeLabel->geometry().right() + 1, 64 - 3);
    QCOMPARE(form.leUpgradeLabel->y(), 36);
    QCOMPARE(form.leUpgradeLabel->height(), 13);

    QVERIFY(!form.cbDeviceList->isEditable());
    QCOMPARE(Entries(form.cbDeviceList),
             QStringList({"IRIG Clock", "ULMO", "Velkaro USB", "VK101 Power Controller", "VKUSB Zenara - Modules"}));
    const QList<QWidget*> tabOrder{form.cbDeviceList, form.bUpload, form.pbFWProcessing, form.leUpgrade, form.bopenDialog};
    QCOMPARE(FocusChain(form.cbDeviceList, tabOrder), tabOrder);
}

void LayoutTest::dialogs() {
    TSelectDeviceForm devices;
    QCOMPARE(devices.windowTitle(), QStringLiteral("Deviecs"));
    QCOMPARE(devices.size(), QSize(355, 139));
    QVERIFY(FixedWithCloseBoxOnly(devices));
    const QList<QWidget*> deviceTabs{devices.UpgradeButton, devices.DevicesCheckListBox, devices.Button1};
    QCOMPARE(FocusChain(devices.UpgradeButton, deviceTabs), deviceTabs);
    devices.AddDevice(QStringLiteral("VKUSB SN: 1234"));
    QCOMPARE(devices.DevicesCheckListBox->item(0)->sizeHint().height(), 13);

    TSelectModuleTypeForm moduleType;
    QCOMPARE(moduleType.windowTitle(), QStringLiteral("Module Type"));
    QCOMPARE(moduleType.size(), QSize(422, 59));
    QVERIFY(FixedWithCloseBoxOnly(moduleType));
    QCOMPARE(moduleType.ModuleLabel->palette().color(QPalette::WindowText), QColor(Qt::red));
    QCOMPARE(Entries(moduleType.ModuleTypeComboBox), QStringList({"IEPE", "MULTIMP", "HV", "BR", "IEPE CNT", "LV"}));
    QVERIFY(!moduleType.ModuleTypeComboBox->isEditable());
    const QList<QWidget*> moduleTabs{moduleType.ModuleTypeComboBox, moduleType.OKButton};
    QCOMPARE(FocusChain(moduleType.ModuleTypeComboBox, moduleTabs), moduleTabs);
    moduleType.SetUndetectedSlot(7);
    QCOMPARE(moduleType.ModuleLabel->text(), QStringLiteral("Module 8 cannot be detected!"));
    QVERIFY(moduleType.ModuleLabel->width() >= 142);
}

void LayoutTest::openDialog() {
    WindowFixture fixture;
    fixture.show();
    const QString packages = QString::fromStdString((fixture.folder.path() / "FWUs").string());
    const QString package = packages + "/pc.fwu";
    std::ofstream(package.toStdString()) << "zip";
    bool accept = false;
    QStringList settings;
    WhenShown<QFileDialog> operatorAtDialog([&](QFileDialog* dialog) {
        const bool openExisting = dialog->fileMode() == QFileDialog::ExistingFile &&
                                  dialog->acceptMode() == QFileDialog::AcceptOpen && dialog->parentWidget() == &fixture.window();
        settings = QStringList{dialog->nameFilters().join('|'), dialog->defaultSuffix(), dialog->directory().absolutePath(),
                               openExisting ? "open existing" : "other"};
        dialog->selectFile(package);
        if (accept) static_cast<QDialog*>(dialog)->accept();  // as the Open button does
        else dialog->reject();
    });
    fixture.window().leUpgrade->setText(QStringLiteral("/kept/path.fwu"));
    fixture.window().bopenDialog->click();
    QCOMPARE(fixture.window().leUpgrade->text(), QStringLiteral("/kept/path.fwu"));  // cancelled
    accept = true;
    fixture.window().bopenDialog->click();
    QCOMPARE(fixture.window().leUpgrade->text(), package);
    QCOMPARE(operatorAtDialog.seen, 2);
    QCOMPARE(settings, QStringList({"FW Update Files (*.fwu)|All Files (*.*)", "fwu", packages, "open existing"}));
}

QTEST_MAIN(LayoutTest)
#include "tst_layout.moc"
