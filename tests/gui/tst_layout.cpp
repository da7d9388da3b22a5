// The windows as they stand when built: the controls of the main window and of the two
// upgrade dialogs (texts, positions, states, font), the forms themselves, their tab order and
// lists, the folders the main window makes, and the file dialog behind "...". The program runs
// twice: in Tahoma, where the design's pixels hold, and with ROVENZA_TEST_NO_TAHOMA in the
// substitute font, where every caption must still show whole and no control may cover another.
#include <filesystem>
#include <fstream>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

#include "GuiTestSupport.h"
#include "app/FormStyle.h"
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

// Whether the windows are in Tahoma (set by initTestCase).
bool tahoma = false;

// The form's client size: the design's in Tahoma; in a substitute font as high, and as wide or
// wider where captions needed the room.
bool HasDesignSize(const QWidget& form, QSize design) {
    return tahoma ? form.size() == design : form.height() == design.height() && form.width() >= design.width();
}

// The width a caption has inside its control, as the style lays the control out; -1 for a
// control without a caption.
int CaptionRoomOf(const QWidget* control) {
    if (const auto* label = qobject_cast<const QLabel*>(control)) return label->contentsRect().width();
    QStyleOptionButton option;
    option.initFrom(control);
    if (const auto* button = qobject_cast<const QPushButton*>(control)) {
        if (button->autoDefault()) option.features |= QStyleOptionButton::AutoDefaultButton;
        return control->style()->subElementRect(QStyle::SE_PushButtonContents, &option, control).width();
    }
    if (qobject_cast<const QCheckBox*>(control))
        return control->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, control).width();
    return -1;
}

// Every caption of `form` that does not fit its control, and every pair of controls that
// overlap or control that leaves the form, one line each; empty when the form is sound.
QStringList LayoutFaults(const QWidget& form) {
    QStringList faults;
    const QList<QWidget*> controls = form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (const QWidget* control : controls) {
        const QString text = control->property("text").toString();
        const int room = CaptionRoomOf(control);
        const int needed = control->fontMetrics().horizontalAdvance(text);
        if (room >= 0 && needed > room)
            faults << QStringLiteral("%1 \"%2\" needs %3 px, has %4").arg(control->objectName(), text).arg(needed).arg(room);
        if (!form.rect().contains(control->geometry()))
            faults << control->objectName() + QStringLiteral(" leaves the form");
        for (const QWidget* other : controls)
            if (control < other && control->geometry().intersects(other->geometry()))
                faults << control->objectName() + QStringLiteral(" overlaps ") + other->objectName();
    }
    return faults;
}

}  // namespace

class LayoutTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void controls_data();
    void controls();
    void captionsFit_data();
    void captionsFit();
    void mainWindow();
    void dialogs();
    void openDialog();
};

void LayoutTest::initTestCase() {
    tahoma = SetUpFormFont();
    if (TahomaLeftOut()) {
        if (tahoma) QSKIP("Tahoma is installed on this system: there is no substitute font to lay out for");
    } else if (QFileInfo::exists(QString::fromLatin1(kWineTahomaFile))) {
        QVERIFY2(tahoma, "Wine's Tahoma is installed, yet the windows do not use it");
    } else {
        qWarning("Tahoma is missing (Debian package fonts-wine): the design's pixels are not checked");
    }
}

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
    // A label is as wide as its caption where that needs more than the design's width (Tahoma
    // here measures some captions a pixel wider).
    if (auto* label = qobject_cast<QLabel*>(control))
        geometry.setWidth(std::max(geometry.width(), label->fontMetrics().horizontalAdvance(label->text())));
    if (tahoma) {
        QCOMPARE(control->geometry(), geometry);
    } else {
        // A substitute font moves controls right and widens them, nothing else.
        QCOMPARE(control->y(), geometry.y());
        QCOMPARE(control->height(), geometry.height());
        QVERIFY(control->x() >= geometry.x());
        QVERIFY(control->width() >= geometry.width());
    }
    QCOMPARE(control->isVisibleTo(forms[form]), visible);
    QVERIFY(control->isEnabled());
    QCOMPARE(control->font().family(), QStringLiteral("Tahoma"));
    QCOMPARE(control->font().pixelSize(), 11);
    if (auto* combo = qobject_cast<QComboBox*>(control))
        QCOMPARE(combo->currentText(), text);
    else if (!text.isNull())
        QCOMPARE(control->property("text").toString(), text);
}

void LayoutTest::captionsFit_data() {
    QTest::addColumn<int>("form");
    QTest::addColumn<int>("slot");  // the module type dialog's undetected slot; -1: none named

    QTest::newRow("main window") << +kMain << -1;
    QTest::newRow("device dialog") << +kDevices << -1;
    QTest::newRow("module type dialog") << +kModuleType << -1;
    QTest::newRow("module type dialog, slot 8") << +kModuleType << 7;
    QTest::newRow("module type dialog, slot 16") << +kModuleType << 15;
}

void LayoutTest::captionsFit() {
    QFETCH(int, form);
    QFETCH(int, slot);

    WindowFixture fixture;
    fixture.show();
    TSelectDeviceForm devices;
    devices.AddDevice(QStringLiteral("VKUSB SN: TV000003"));
    TSelectModuleTypeForm moduleType;
    if (slot >= 0) moduleType.SetUndetectedSlot(slot);
    QWidget* const forms[] = {&fixture.window(), &devices, &moduleType};
    const QStringList faults = LayoutFaults(*forms[form]);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));
}

void LayoutTest::mainWindow() {
    WindowFixture fixture;
    fixture.show();
    TMainForm& form = fixture.window();

    QCOMPARE(form.windowTitle(), QStringLiteral("Rovenza"));
    QVERIFY(HasDesignSize(form, QSize(414, 108)));
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
    QVERIFY(HasDesignSize(devices, QSize(355, 139)));
    QVERIFY(FixedWithCloseBoxOnly(devices));
    const QList<QWidget*> deviceTabs{devices.UpgradeButton, devices.DevicesCheckListBox, devices.Button1};
    QCOMPARE(FocusChain(devices.UpgradeButton, deviceTabs), deviceTabs);
    devices.AddDevice(QStringLiteral("VKUSB SN: 1234"));
    QCOMPARE(devices.DevicesCheckListBox->item(0)->sizeHint().height(), 13);

    TSelectModuleTypeForm moduleType;
    QCOMPARE(moduleType.windowTitle(), QStringLiteral("Module Type"));
    QVERIFY(HasDesignSize(moduleType, QSize(422, 59)));
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
