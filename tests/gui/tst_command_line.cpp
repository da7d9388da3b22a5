// The command line the window reads when it is first shown: "\D" family, "\F" package,
// "\U" start, "\C" close when done, compared whole and case-sensitively.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "GuiTestSupport.h"

using namespace rovenza;
using namespace rovenza::guitest;

namespace {

std::vector<std::string> Args(const QStringList& list) {
    std::vector<std::string> args;
    for (const QString& arg : list) args.push_back(arg.toStdString());
    return args;
}

}  // namespace

class CommandLineTest : public QObject {
    Q_OBJECT
private slots:
    void scanWithoutUpload_data();
    void scanWithoutUpload();
    void scanRunsOnceAtFirstShow();
    void uploadUsesSettingsMadeBeforeIt();
    void uploadBeforeFileReportsMissingPackage();
    void secondUploadIsIgnored();
    void closeSwitchWithUploadClosesAfterBox();
    void closeSwitchWithoutUploadWaitsForFirstUpgrade();
};

void CommandLineTest::scanWithoutUpload_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("closeWhenDone");

    QTest::newRow("no arguments") << QStringList{} << 0 << "" << false;
    QTest::newRow("family in lower case") << QStringList{"\\D", "velkaro usb"} << 2 << "" << false;
    QTest::newRow("family in mixed case") << QStringList{"\\D", "vk101 POWER controller"} << 3 << "" << false;
    QTest::newRow("unknown family selects the first") << QStringList{"\\D", "ULMO", "\\D", "Oscilloscope"} << 0 << "" << false;
    QTest::newRow("empty family selects the first") << QStringList{"\\D", "ULMO", "\\D", ""} << 0 << "" << false;
    QTest::newRow("family switch last does nothing") << QStringList{"\\D", "ULMO", "\\D"} << 1 << "" << false;
    QTest::newRow("file name") << QStringList{"\\F", "/p/a.fwu"} << 0 << "/p/a.fwu" << false;
    QTest::newRow("later file name wins") << QStringList{"\\F", "/p/a.fwu", "\\F", "/p/b.fwu"} << 0 << "/p/b.fwu" << false;
    QTest::newRow("file switch last empties the box") << QStringList{"\\F", "/p/a.fwu", "\\F"} << 0 << "" << false;
    QTest::newRow("value after file switch taken though a switch") << QStringList{"\\F", "\\U"} << 0 << "\\U" << false;
    QTest::newRow("value after family switch taken though a switch") << QStringList{"\\D", "\\C"} << 0 << "" << false;
    QTest::newRow("close switch") << QStringList{"\\C"} << 0 << "" << true;
    QTest::newRow("lower-case close skipped") << QStringList{"\\c"} << 0 << "" << false;
    QTest::newRow("slash close skipped") << QStringList{"/C"} << 0 << "" << false;
    QTest::newRow("lower-case switches skipped") << QStringList{"\\d", "ULMO", "\\f", "x", "\\u"} << 0 << "" << false;
    QTest::newRow("switch with more text skipped") << QStringList{"\\DULMO", "\\Fx", "\\Up"} << 0 << "" << false;
    QTest::newRow("other arguments skipped") << QStringList{"x", "\\F", "/p/a.fwu", "-v", "\\D", "ULMO"} << 1 << "/p/a.fwu" << false;
}

void CommandLineTest::scanWithoutUpload() {
    QFETCH(QStringList, args);
    QFETCH(int, selected);
    QFETCH(QString, fileName);
    QFETCH(bool, closeWhenDone);

    WindowFixture fixture(Args(args));
    fixture.show();
    TMainForm& form = fixture.window();
    QCOMPARE(form.cbDeviceList->currentIndex(), selected);
    QCOMPARE(form.leUpgrade->text(), fileName);
    QCOMPARE(form.CloseWhenDone, closeWhenDone);
    QVERIFY(form.UploadThread == nullptr);
    QVERIFY(!form.Timer1->isActive());
    QVERIFY(form.isVisible());
    QCOMPARE(fixture.log.entries(), std::vector<std::string>{});
}

void CommandLineTest::scanRunsOnceAtFirstShow() {
    WindowFixture fixture(Args({"\\D", "ULMO", "\\F", "/p/a.fwu"}));
    TMainForm& form = fixture.window();
    QCOMPARE(form.cbDeviceList->currentIndex(), 0);  // not read before the first show
    fixture.show();
    QCOMPARE(form.cbDeviceList->currentIndex(), 1);
    form.cbDeviceList->setCurrentIndex(4);
    form.leUpgrade->clear();
    form.hide();
    form.show();
    QCOMPARE(form.cbDeviceList->currentIndex(), 4);
    QCOMPARE(form.leUpgrade->text(), QString());
}

void CommandLineTest::uploadUsesSettingsMadeBeforeIt() {
    WindowFixture fixture(Args({"\\D", "ULMO", "\\F", "/p/first.fwu", "\\U", "\\F", "/p/later.fwu", "\\D", "VK101 Power Controller"}));
    fixture.script.holdInUpgrade = true;
    fixture.show();
    TMainForm& form = fixture.window();
    QVERIFY(form.UploadThread != nullptr);
    // The scan went on after "\U" while the upgrade runs.
    QCOMPARE(form.leUpgrade->text(), QStringLiteral("/p/later.fwu"));
    QCOMPARE(form.cbDeviceList->currentIndex(), 3);
    QVERIFY(SpinUntil([&] { return fixture.log.count("holding") == 1; }));
    fixture.script.release.open();
    QVERIFY(fixture.waitForUpgrades());
    const std::vector<std::string> expected{"create 1", "upgrade 1 [/p/first.fwu]", "holding",
                                            "message Rovenza|Firmware upgrade successful!", "finished", "destroyed"};
    QCOMPARE(fixture.log.entries(), expected);
}

void CommandLineTest::uploadBeforeFileReportsMissingPackage() {
    // The real power-controller upgrader, over a host without instruments: the empty box
    // reaches it as an empty package name.
    WindowFixture fixture(Args({"\\D", "VK101 Power Controller", "\\U", "\\F", "/p/late.fwu"}), &CreateUpgrader);
    fixture.show();
    QVERIFY(fixture.waitForUpgrades());
    QCOMPARE(fixture.log.count("message Rovenza|The FWU file does not exist."), 1);
    QCOMPARE(fixture.window().leUpgrade->text(), QStringLiteral("/p/late.fwu"));

    // The same through the fake: the upgrader was given the empty name.
    WindowFixture faked(Args({"\\U", "\\F", "/p/late.fwu"}));
    faked.show();
    QVERIFY(faked.waitForUpgrades());
    QCOMPARE(faked.log.count("upgrade 0 []"), 1);
}

void CommandLineTest::secondUploadIsIgnored() {
    WindowFixture fixture(Args({"\\U", "\\D", "ULMO", "\\U"}));
    fixture.script.holdInUpgrade = true;
    fixture.show();
    QVERIFY(SpinUntil([&] { return fixture.log.count("holding") == 1; }));
    fixture.script.release.open();
    QVERIFY(fixture.waitForUpgrades());
    QCOMPARE(fixture.log.count("create 0"), 1);
    QCOMPARE(fixture.log.count("create 1"), 0);
    QCOMPARE(fixture.log.count("message Rovenza|Firmware upgrade successful!"), 1);
    QVERIFY(fixture.window().UploadThread == nullptr);
    QVERIFY(fixture.window().bUpload->isEnabled());
}

void CommandLineTest::closeSwitchWithUploadClosesAfterBox() {
    WindowFixture fixture(Args({"\\D", "ULMO", "\\F", "/p/a.fwu", "\\C", "\\U"}));
    fixture.recordingOperator.holdMessages = true;
    fixture.show();
    QVERIFY(SpinUntil([&] { return fixture.log.count("message Rovenza|Firmware upgrade successful!") == 1; }));
    QVERIFY(fixture.window().isVisible());  // the box is still up
    fixture.recordingOperator.dismiss.open();
    QVERIFY(fixture.waitForUpgrades());
    QVERIFY(!fixture.window().isVisible());
}

void CommandLineTest::closeSwitchWithoutUploadWaitsForFirstUpgrade() {
    WindowFixture fixture(Args({"\\C"}));
    fixture.recordingOperator.holdMessages = true;
    fixture.show();
    TMainForm& form = fixture.window();
    QVERIFY(form.CloseWhenDone);
    QVERIFY(form.isVisible());
    QCOMPARE(fixture.log.entries(), std::vector<std::string>{});

    form.bUpload->click();  // the operator's first upgrade
    QVERIFY(SpinUntil([&] { return fixture.log.count("message Rovenza|Firmware upgrade successful!") == 1; }));
    QVERIFY(form.isVisible());
    fixture.recordingOperator.dismiss.open();
    QVERIFY(fixture.waitForUpgrades());
    QVERIFY(!form.isVisible());
}

QTEST_MAIN(CommandLineTest)
#include "tst_command_line.moc"
