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

const std::string kSuccessBox = "message Rovenza|Firmware upgrade successful!";

}  // namespace

class CommandLineTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { SetUpFormFont(); }  // the windows in the program's font
    void scanWithoutUpload_data();
    void scanWithoutUpload();
    void uploadMidScanRunsOnce();
    void uploadBeforeFileReportsMissingPackage();
    void closeSwitchWithoutUploadClosesAfterFirstUpgrade();
};

void CommandLineTest::scanWithoutUpload_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("closeWhenDone");

    QTest::newRow("no arguments") << QStringList{} << 0 << "" << false;
    QTest::newRow("family in lower case") << QStringList{"\\D", "velkaro usb"} << 2 << "" << false;
    QTest::newRow("unknown family selects the first") << QStringList{"\\D", "ULMO", "\\D", "Oscilloscope"} << 0 << "" << false;
    QTest::newRow("family switch last does nothing") << QStringList{"\\D", "ULMO", "\\D"} << 1 << "" << false;
    QTest::newRow("file switch last empties the box") << QStringList{"\\F", "/p/a.fwu", "\\F"} << 0 << "" << false;
    QTest::newRow("value after file switch taken though a switch") << QStringList{"\\F", "\\U"} << 0 << "\\U" << false;
    QTest::newRow("value after family switch taken though a switch") << QStringList{"\\D", "\\C"} << 0 << "" << false;
    QTest::newRow("close switch") << QStringList{"\\C"} << 0 << "" << true;
    QTest::newRow("lower-case close skipped") << QStringList{"\\c"} << 0 << "" << false;
    QTest::newRow("near-switches skipped") << QStringList{"/C", "\\d", "ULMO", "\\f", "x", "\\u", "\\DULMO", "\\Up"} << 0 << ""
                                           << false;
    QTest::newRow("other arguments skipped") << QStringList{"x", "\\F", "/p/a.fwu", "-v", "\\D", "ULMO"} << 1 << "/p/a.fwu"
                                             << false;
}

void CommandLineTest::scanWithoutUpload() {
    QFETCH(QStringList, args);
    QFETCH(int, selected);
    QFETCH(QString, fileName);
    QFETCH(bool, closeWhenDone);

    WindowFixture fixture(Args(args));
    TMainForm& form = fixture.window();
    QVERIFY(form.leUpgrade->text().isEmpty() && !form.CloseWhenDone);  // read at the first show, not before
    fixture.show();
    QCOMPARE(form.cbDeviceList->currentIndex(), selected);
    QCOMPARE(form.leUpgrade->text(), fileName);
    QCOMPARE(form.CloseWhenDone, closeWhenDone);
    QVERIFY(form.UploadThread == nullptr);
    QVERIFY(form.isVisible());
    QCOMPARE(fixture.log.entries(), std::vector<std::string>{});
    // Not read again when the window is shown again.
    form.leUpgrade->setText(QStringLiteral("/p/operator.fwu"));
    form.hide();
    form.show();
    QCOMPARE(form.leUpgrade->text(), QStringLiteral("/p/operator.fwu"));
}

void CommandLineTest::uploadMidScanRunsOnce() {
    // The upgrade takes the settings made before "\U"; the scan goes on while it runs, and a
    // second "\U" starts nothing beside it.
    WindowFixture fixture(Args({"\\D", "ULMO", "\\F", "/p/first.fwu", "\\U", "\\F", "/p/later.fwu", "\\D",
                                "VK101 Power Controller", "\\U"}));
    fixture.show();
    TMainForm& form = fixture.window();
    QCOMPARE(form.leUpgrade->text(), QStringLiteral("/p/later.fwu"));
    QCOMPARE(form.cbDeviceList->currentIndex(), 3);
    QVERIFY(fixture.waitForUpgrades());
    const std::vector<std::string> expected{"create 1", "upgrade 1 [/p/first.fwu]", kSuccessBox, "finished", "destroyed"};
    QCOMPARE(fixture.log.entries(), expected);
    QVERIFY(form.bUpload->isEnabled());
}

void CommandLineTest::uploadBeforeFileReportsMissingPackage() {
    // The real power-controller upgrader, over a host without instruments: the box was still
    // empty when "\U" started it.
    WindowFixture fixture(Args({"\\D", "VK101 Power Controller", "\\U", "\\F", "/p/late.fwu"}), &CreateUpgrader);
    fixture.show();
    QVERIFY(fixture.waitForUpgrades());
    QCOMPARE(fixture.log.entries(), std::vector<std::string>({"message Rovenza|The FWU file does not exist.", "finished"}));
    QCOMPARE(fixture.window().leUpgrade->text(), QStringLiteral("/p/late.fwu"));
}

void CommandLineTest::closeSwitchWithoutUploadClosesAfterFirstUpgrade() {
    WindowFixture fixture(Args({"\\C"}));
    fixture.recordingOperator.holdMessages = true;
    fixture.show();
    TMainForm& form = fixture.window();
    QVERIFY(form.isVisible());
    QCOMPARE(fixture.log.entries(), std::vector<std::string>{});
    form.bUpload->click();  // the operator's first upgrade
    QVERIFY(SpinUntil([&] { return fixture.log.count(kSuccessBox) == 1; }));
    QVERIFY(form.isVisible());  // the box is still up
    fixture.recordingOperator.dismiss();
    QVERIFY(fixture.waitForUpgrades());
    QVERIFY(!form.isVisible());
}

QTEST_MAIN(CommandLineTest)
#include "tst_command_line.moc"
