// Upgrades driven from the window: the worker's message, the window held while the message
// box is up, the progress display, the dialogs asked from a worker, and a whole upgrade
// against the simulated bench.
#include <algorithm>
#include <atomic>
#include <functional>
#include <limits>
#include <thread>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "GuiTestSupport.h"
#include "app/QtOperator.h"
#include "app/SelectDeviceFormU.h"
#include "app/SelectModuleTypeUnit.h"
#include "fwu/DemoPackage.h"
#include "fwu/FwuWriter.h"
#include "sim/SecondGenInstrument.h"
#include "support/BenchFixture.h"

using namespace rovenza;
using namespace rovenza::guitest;

namespace {

const std::string kSuccessBox = "message Rovenza|Firmware upgrade successful!";

// Runs `question` on a worker thread while the window's thread serves it; returns its answer.
template <class F>
auto AskFromWorker(F question) {
    decltype(question()) answer{};
    std::atomic<bool> answered{false};
    std::thread worker([&] {
        answer = question();
        answered = true;
        WakeGuiThread();
    });
    if (!SpinUntil([&] { return answered.load(); })) qFatal("the worker's question was never answered");
    worker.join();
    return answer;
}

}  // namespace

class UploadTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { SetUpFormFont(); }  // the windows in the program's font
    void failureMessage_data();
    void failureMessage();
    void boxHoldsWindowUntilDismissed();
    void progressDisplay_data();
    void progressDisplay();
    void chooseDevicesFromWorker();
    void chooseModuleTypeFromWorker();
    void powerControllerOnBench();
    void velkaroSelectionOnBench();
    void zenaraModuleTypeOnBench();
};

void UploadTest::failureMessage_data() {
    QTest::addColumn<QString>("assigned");  // null: Upgrade assigns no message
    QTest::addColumn<bool>("createFails");
    QTest::addColumn<QString>("shown");

    QTest::newRow("exception before any message") << QString() << false << "Error";
    QTest::newRow("exception after a message") << "Error - partial" << false << "Error - partial";
    QTest::newRow("upgrader not created") << QString() << true << "Error";
}

void UploadTest::failureMessage() {
    QFETCH(QString, assigned);
    QFETCH(bool, createFails);
    QFETCH(QString, shown);

    WindowFixture fixture;
    fixture.script.message = assigned.isNull() ? std::nullopt : std::optional(assigned.toStdString());
    fixture.script.throws = true;
    fixture.script.createFails = createFails;
    fixture.show();
    fixture.window().bUpload->click();
    QVERIFY(fixture.waitForUpgrades());
    const std::string box = "message Rovenza|" + shown.toStdString();
    const std::vector<std::string> expected = createFails ? std::vector<std::string>{box, "finished"}
        : std::vector<std::string>{"create 0", "upgrade 0 []", box, "finished", "destroyed"};
    QCOMPARE(fixture.log.entries(), expected);
    QVERIFY(fixture.window().bUpload->isEnabled());
}

void UploadTest::boxHoldsWindowUntilDismissed() {
    QtOperator op;
    WindowFixture fixture({}, {}, &op);
    TMainForm& form = fixture.window();
    op.setOwner(&form);
    fixture.script.message = "Instrument or FWU file is not IRIG CLOCK!";
    fixture.show();
    const QList<QWidget*> controls{form.bUpload, form.cbDeviceList, form.leUpgrade, form.leUpgradeLabel, form.bopenDialog,
                                   form.Label1};
    auto enabledControls = [&] { return std::count_if(controls.begin(), controls.end(), std::mem_fn(&QWidget::isEnabled)); };

    QStringList box;
    bool windowHeld = false;
    WhenShown<QMessageBox> dismisser([&](QMessageBox* shown) {
        const bool plainOk = shown->icon() == QMessageBox::NoIcon && shown->standardButtons() == QMessageBox::Ok &&
                             shown->textFormat() == Qt::PlainText && shown->parentWidget() == &form;
        box = QStringList{shown->windowTitle(), shown->text(), plainOk ? "plain, OK only" : "other"};
        // The result is on the screen: the window still uploads, the upgrader is still there,
        // and a close request is refused without a word.
        windowHeld = enabledControls() == 0 && form.Timer1->isActive() && form.pbFWProcessing->isVisible() &&
                     fixture.log.count("destroyed") == 0 && !form.close() && form.isVisible();
        shown->accept();
    });
    form.bUpload->click();
    QVERIFY(fixture.waitForUpgrades());
    QCOMPARE(dismisser.seen, 1);
    QCOMPARE(box, QStringList({"Rovenza", "Instrument or FWU file is not IRIG CLOCK!", "plain, OK only"}));
    QVERIFY(windowHeld);
    QCOMPARE(enabledControls(), controls.size());
    QVERIFY(!form.Timer1->isActive());
    QVERIFY(!form.pbFWProcessing->isVisible());
    QVERIFY(!form.lFWProcessing->isVisible());
    // The upgrader outlives the completion handler, which stopped the timer.
    QCOMPARE(fixture.log.entries(), std::vector<std::string>({"create 0", "upgrade 0 []", "finished", "destroyed"}));
    QVERIFY(form.isVisible());  // no "\C": the window stays

    // Idle again: a second upgrade takes the new settings, and the window may close.
    form.cbDeviceList->setCurrentIndex(4);
    form.leUpgrade->setText(QStringLiteral("/p/modules.fwu"));
    form.bUpload->click();
    QVERIFY(fixture.waitForUpgrades(2));
    QCOMPARE(fixture.log.count("upgrade 4 [/p/modules.fwu]"), 1);
    QVERIFY(form.close());
    QVERIFY(!form.isVisible());
}

void UploadTest::progressDisplay_data() {
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("done");
    QTest::addColumn<QString>("stage");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("caption");

    const QString pic = QStringLiteral("USB Pic uploading");
    QTest::newRow("nothing done") << qint64(5058) << qint64(0) << pic << 0 << "USB Pic uploading... (0%)";
    QTest::newRow("all done stops at 99") << qint64(5058) << qint64(5058) << pic << 99 << "USB Pic uploading... (99%)";
    QTest::newRow("no total, one done") << qint64(0) << qint64(1) << pic << 99 << "USB Pic uploading... (99%)";
    QTest::newRow("one third truncated") << qint64(3) << qint64(1) << pic << 33 << "USB Pic uploading... (33%)";
    QTest::newRow("negative done shows the bar's bottom")
        << qint64(1) << std::numeric_limits<qint64>::min() << pic << 0 << "USB Pic uploading... (0%)";
    QTest::newRow("empty stage, empty caption") << qint64(5058) << qint64(2529) << QString() << 50 << "";
}

void UploadTest::progressDisplay() {
    QFETCH(qint64, total);
    QFETCH(qint64, done);
    QFETCH(QString, stage);
    QFETCH(int, position);
    QFETCH(QString, caption);

    WindowFixture fixture;
    fixture.script.total = total;
    fixture.script.done = done;
    fixture.script.stage = stage.toStdString();
    fixture.recordingOperator.holdMessages = true;  // the upgrader stays while the box is up
    fixture.show();
    TMainForm& form = fixture.window();
    form.bUpload->click();
    QVERIFY(SpinUntil([&] { return fixture.log.count(kSuccessBox) == 1; }));

    form.pbFWProcessing->setValue(77);  // as an earlier run may have left it
    form.Timer1Timer();
    QCOMPARE(form.pbFWProcessing->value(), position);
    QCOMPARE(form.lFWProcessing->text(), caption);
    QVERIFY(form.lFWProcessing->width() >= form.lFWProcessing->fontMetrics().horizontalAdvance(caption));

    fixture.recordingOperator.dismiss();
    QVERIFY(fixture.waitForUpgrades());
    // Hidden with the values of the last tick.
    QVERIFY(!form.pbFWProcessing->isVisible());
    QCOMPARE(form.pbFWProcessing->value(), position);
}

void UploadTest::chooseDevicesFromWorker() {
    QWidget owner;
    QtOperator op;
    op.setOwner(&owner);
    bool confirm = true;
    QStringList shown;  // the items, then whether all were checked at first and the owner was the parent
    bool selectAllKeepsOpen = false;
    WhenShown<TSelectDeviceForm> chooser([&](TSelectDeviceForm* form) {
        if (!confirm) {
            form->close();
            return;
        }
        for (int i = 0; i < form->DevicesCheckListBox->count(); ++i) shown << form->DevicesCheckListBox->item(i)->text();
        shown << (form->CheckedCount() == 3 && form->parentWidget() == &owner ? "all checked, owned" : "other");
        form->DevicesCheckListBox->item(0)->setCheckState(Qt::Unchecked);
        form->Button1->click();  // "Select All"
        selectAllKeepsOpen = form->CheckedCount() == 3 && form->isVisible();
        form->DevicesCheckListBox->item(1)->setCheckState(Qt::Unchecked);
        form->UpgradeButton->click();
    });
    const std::vector<std::string> items{"VKUSB SN: 1234", "VKUSB SN: AB", "VKUSB SN: TV000003"};
    QCOMPARE(AskFromWorker([&] { return op.chooseDevices(items); }), std::optional(std::vector<bool>{true, false, true}));
    QCOMPARE(shown, QStringList({"VKUSB SN: 1234", "VKUSB SN: AB", "VKUSB SN: TV000003", "all checked, owned"}));
    QVERIFY(selectAllKeepsOpen);

    confirm = false;
    QCOMPARE(AskFromWorker([&] { return op.chooseDevices(items); }), std::optional<std::vector<bool>>());
    QCOMPARE(chooser.seen, 2);
}

void UploadTest::chooseModuleTypeFromWorker() {
    QtOperator op;
    bool confirm = true;
    QString label;
    WhenShown<TSelectModuleTypeForm> chooser([&](TSelectModuleTypeForm* form) {
        label = form->ModuleLabel->text();
        form->ModuleTypeComboBox->setCurrentIndex(3);  // "BR", type code 4
        if (confirm) form->OKButton->click();
        else form->close();
    });
    QCOMPARE(AskFromWorker([&] { return op.chooseModuleType(0); }), std::optional(4));
    QCOMPARE(label, QStringLiteral("Module 1 cannot be detected!"));
    // Asked on the window's thread itself, the dialog is shown there directly.
    QCOMPARE(op.chooseModuleType(2), std::optional(4));
    QCOMPARE(label, QStringLiteral("Module 3 cannot be detected!"));
    confirm = false;
    QCOMPARE(AskFromWorker([&] { return op.chooseModuleType(6); }), std::optional<int>());
}

void UploadTest::powerControllerOnBench() {
    const std::string serial = "PC000001";
    sim::SimulatedBench bench(BenchOf({BenchInstrument(sim::FamilyId::PowerController, serial)}));
    TempDir packages;
    const std::filesystem::path package = packages.path() / "vk101.fwu";
    WriteFwu(package, *DemoPackageMembers(kDemoVk101));
    {
        // The typical unattended call.
        WindowFixture fixture({"\\D", "VK101 Power Controller", "\\F", package.string(), "\\C", "\\U"}, &CreateUpgrader,
                              nullptr, Backends{bench.driver(), bench.interfaces(), bench.clock()});
        fixture.recordingOperator.holdMessages = true;
        fixture.show();
        TMainForm& form = fixture.window();
        QVERIFY(SpinUntil([&] { return fixture.log.count(kSuccessBox) == 1; }));
        // While the result is shown the upgrader is still there: the display shows its last stage.
        form.Timer1Timer();
        QCOMPARE(form.pbFWProcessing->value(), 99);
        QCOMPARE(form.lFWProcessing->text(), QStringLiteral("Uploading... (99%)"));
        QVERIFY(form.isVisible());
        fixture.recordingOperator.dismiss();
        QVERIFY(fixture.waitForUpgrades());
        QVERIFY(!form.isVisible());  // "\C": closed once the box was dismissed
    }  // the window goes, and its worker has closed the instrument

    const std::vector<std::uint8_t> image = DemoUsbPicImage();
    const std::vector<std::uint8_t>& program = bench.instrument(serial).program();
    QVERIFY(std::equal(program.begin() + 0x800, program.end(), image.begin() + 0x800));
    QCOMPARE(bench.bench().openHandles(), std::size_t{0});
}

void UploadTest::velkaroSelectionOnBench() {
    // Three second-generation instruments: the window's worker asks through the dialog, the
    // operator unchecks the second, and only the first and third are upgraded.
    sim::SimulatedBench bench(BenchOf({BenchInstrument(sim::FamilyId::Velkaro, "TV000001"),
                                       BenchInstrument(sim::FamilyId::Velkaro, "TV000002"),
                                       BenchInstrument(sim::FamilyId::Velkaro, "TV000003")}));
    TempDir packages;
    const std::filesystem::path package = packages.path() / "velkaro.fwu";
    WriteFwu(package, {{"Bootload.ini", "[Info]\r\nDeviceType=3\r\n"}, {"USB.bin", "x"}, {"fpga.bin", "y"}});
    QtOperator op;
    QStringList items;
    WhenShown<TSelectDeviceForm> chooser([&](TSelectDeviceForm* form) {
        for (int i = 0; i < form->DevicesCheckListBox->count(); ++i) items << form->DevicesCheckListBox->item(i)->text();
        form->DevicesCheckListBox->item(1)->setCheckState(Qt::Unchecked);
        form->UpgradeButton->click();
    });
    QString box;
    WhenShown<QMessageBox> dismisser([&](QMessageBox* shown) {
        box = shown->text();
        shown->accept();
    });
    {
        WindowFixture fixture({"\\D", "Velkaro USB", "\\F", package.string(), "\\U"}, &CreateUpgrader, &op,
                              Backends{bench.driver(), bench.interfaces(), bench.clock()});
        op.setOwner(&fixture.window());
        fixture.show();
        QVERIFY(fixture.waitForUpgrades());
    }
    QCOMPARE(items, QStringList({"VKUSB SN: TV000001", "VKUSB SN: TV000002", "VKUSB SN: TV000003"}));
    QCOMPARE(box, QStringLiteral("Firmware upgrade successful!"));
    QCOMPARE(bench.bench().openHandles(), std::size_t{0});
    // The chosen two hold the images; the second keeps its old firmware and configuration.
    for (const char* serial : {"TV000001", "TV000003"}) {
        QCOMPARE(bench.secondGen(serial).eeprom()[0], std::uint8_t{'x'});
        QVERIFY(bench.secondGen(serial).flash().read(0, 1) == std::vector<std::uint8_t>{std::uint8_t{'y'}});
    }
    QCOMPARE(bench.secondGen("TV000002").eeprom()[0], sim::SecondGenInstrument::OldEepromByte(0));
    QCOMPARE(bench.secondGen("TV000002").erases(), std::uint32_t{0});
}

void UploadTest::zenaraModuleTypeOnBench() {
    // Slot 1's module cannot tell its type and the operator names it "BR"; slot 2's cannot
    // either and the operator closes the dialog: that slot alone is not upgraded.
    sim::InstrumentSpec zenara = BenchInstrument(sim::FamilyId::Zenara, "ZN000001");
    zenara.modules = {7, 0, 1, 1, 1, 1, 1, 1};
    sim::SimulatedBench bench(BenchOf({zenara}));
    TempDir packages;
    const std::filesystem::path package = packages.path() / "zenara.fwu";
    WriteFwu(package, *DemoPackageMembers(kDemoZenara));
    QtOperator op;
    QStringList labels;
    WhenShown<TSelectModuleTypeForm> chooser([&](TSelectModuleTypeForm* form) {
        labels << form->ModuleLabel->text();
        form->ModuleTypeComboBox->setCurrentIndex(3);  // "BR"
        if (labels.size() == 1) form->OKButton->click();
        else form->close();
    });
    QString box;
    WhenShown<QMessageBox> dismisser([&](QMessageBox* shown) {
        box = shown->text();
        shown->accept();
    });
    {
        WindowFixture fixture({"\\D", "VKUSB Zenara - Modules", "\\F", package.string(), "\\U"}, &CreateUpgrader, &op,
                              Backends{bench.driver(), bench.interfaces(), bench.clock()});
        op.setOwner(&fixture.window());
        fixture.show();
        QVERIFY(fixture.waitForUpgrades());
    }
    QCOMPARE(labels, QStringList({"Module 1 cannot be detected!", "Module 2 cannot be detected!"}));
    QCOMPARE(box, QStringLiteral("Module 2 cannot be upgraded!"));
    QCOMPARE(bench.bench().openHandles(), std::size_t{0});
    const auto& modules = bench.secondGen("ZN000001").bridge()->modules();
    for (const auto& [slot, type, written] : {std::tuple{0, 4, true}, std::tuple{1, 1, false}, std::tuple{2, 1, true},
                                              std::tuple{7, 1, true}}) {
        const auto image = DemoModuleImage(type);
        const auto& flash = modules[static_cast<std::size_t>(slot)]->flash();
        QCOMPARE(flash.size() >= 0x600 + image.size() && std::equal(image.begin(), image.end(), flash.begin() + 0x600),
                 written);
    }
}

QTEST_MAIN(UploadTest)
#include "tst_upload.moc"
