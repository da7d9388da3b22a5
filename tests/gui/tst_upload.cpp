// One upgrade driven from the window: the worker, the message box, the completion handler,
// the refused close and the progress display.
#include <limits>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "GuiTestSupport.h"
#include "app/QtOperator.h"

using namespace rovenza;
using namespace rovenza::guitest;

Q_DECLARE_METATYPE(rovenza::guitest::FakeScript::Ending)

class UploadTest : public QObject {
    Q_OBJECT
private slots:
    void resultMessage_data();
    void resultMessage();
    void failingFactoryReportsError_data();
    void failingFactoryReportsError();
    void controlsStayDisabledWhileBoxIsUp();
    void closeRefusedDuringUpgrade();
    void progressDisplay_data();
    void progressDisplay();
    void realMessageBox();
    void secondUpgradeAfterFirst();
};

void UploadTest::resultMessage_data() {
    QTest::addColumn<FakeScript::Ending>("ending");
    QTest::addColumn<QString>("assigned");
    QTest::addColumn<QString>("shown");

    QTest::newRow("success") << FakeScript::Ending::Message << "Firmware upgrade successful!" << "Firmware upgrade successful!";
    QTest::newRow("failure text") << FakeScript::Ending::Message << "Instrument is not connected." << "Instrument is not connected.";
    QTest::newRow("exception before any message") << FakeScript::Ending::ThrowBeforeMessage << "unused" << "Error";
    QTest::newRow("exception after a message") << FakeScript::Ending::ThrowAfterMessage << "Error - partial" << "Error - partial";
}

void UploadTest::resultMessage() {
    QFETCH(FakeScript::Ending, ending);
    QFETCH(QString, assigned);
    QFETCH(QString, shown);

    WindowFixture fixture;
    fixture.script.ending = ending;
    fixture.script.message = assigned.toStdString();
    fixture.show();
    fixture.window().leUpgrade->setText(QStringLiteral("/p/pkg.fwu"));
    fixture.window().bUpload->click();
    QVERIFY(fixture.waitForUpgrades());
    const std::vector<std::string> expected{"create 0", "upgrade 0 [/p/pkg.fwu]", "message Rovenza|" + shown.toStdString(),
                                            "finished", "destroyed"};
    QCOMPARE(fixture.log.entries(), expected);
}

void UploadTest::failingFactoryReportsError_data() {
    QTest::addColumn<bool>("throws");
    QTest::newRow("factory raises") << true;
    QTest::newRow("factory gives nothing") << false;
}

void UploadTest::failingFactoryReportsError() {
    QFETCH(bool, throws);
    WindowFixture fixture({}, [throws](int, const Context&) -> std::unique_ptr<TUSBDevice> {
        if (throws) throw std::bad_alloc();
        return nullptr;
    });
    fixture.show();
    fixture.window().bUpload->click();
    QVERIFY(fixture.waitForUpgrades());
    const std::vector<std::string> expected{"message Rovenza|Error", "finished"};
    QCOMPARE(fixture.log.entries(), expected);
    QVERIFY(fixture.window().bUpload->isEnabled());
}

void UploadTest::controlsStayDisabledWhileBoxIsUp() {
    WindowFixture fixture;
    fixture.recordingOperator.holdMessages = true;
    fixture.show();
    TMainForm& form = fixture.window();
    EnabledRecorder recorder({form.bUpload, form.cbDeviceList, form.leUpgrade, form.leUpgradeLabel, form.bopenDialog, form.Label1});

    form.bUpload->click();
    const std::vector<std::string> disabled{"bUpload off",     "cbDeviceList off", "leUpgrade off",
                                            "leUpgradeLabel off", "bopenDialog off", "Label1 off"};
    QCOMPARE(recorder.changes, disabled);
    QVERIFY(form.Timer1->isActive());
    QVERIFY(form.pbFWProcessing->isVisible());
    QVERIFY(form.lFWProcessing->isVisible());

    QVERIFY(SpinUntil([&] { return fixture.log.count("message Rovenza|Firmware upgrade successful!") == 1; }));
    // The result is on the screen: the window is still in its uploading state.
    for (QWidget* control : {static_cast<QWidget*>(form.bUpload), static_cast<QWidget*>(form.cbDeviceList),
                             static_cast<QWidget*>(form.leUpgrade), static_cast<QWidget*>(form.bopenDialog),
                             static_cast<QWidget*>(form.Label1)})
        QVERIFY2(!control->isEnabled(), qPrintable(control->objectName()));
    QVERIFY(form.Timer1->isActive());
    QVERIFY(form.UploadThread != nullptr);
    QCOMPARE(fixture.log.count("destroyed"), 0);

    recorder.changes.clear();
    fixture.recordingOperator.dismiss.open();
    QVERIFY(fixture.waitForUpgrades());
    const std::vector<std::string> enabled{"bUpload on",     "cbDeviceList on", "leUpgrade on",
                                           "leUpgradeLabel on", "bopenDialog on", "Label1 on"};
    QCOMPARE(recorder.changes, enabled);
    QVERIFY(!form.Timer1->isActive());
    QVERIFY(!form.pbFWProcessing->isVisible());
    QVERIFY(!form.lFWProcessing->isVisible());
    // The upgrader outlives the completion handler, which stopped the timer.
    QVERIFY(fixture.log.indexOf("finished") < fixture.log.indexOf("destroyed"));
}

void UploadTest::closeRefusedDuringUpgrade() {
    WindowFixture fixture;
    fixture.script.holdInUpgrade = true;
    fixture.show();
    TMainForm& form = fixture.window();
    form.bUpload->click();
    QVERIFY(SpinUntil([&] { return fixture.log.count("holding") == 1; }));

    QVERIFY(!form.close());
    QVERIFY(form.isVisible());
    QVERIFY(!form.FormClose());
    // Nothing is said about the refusal.
    const std::vector<std::string> soFar{"create 0", "upgrade 0 []", "holding"};
    QCOMPARE(fixture.log.entries(), soFar);

    fixture.script.release.open();
    QVERIFY(fixture.waitForUpgrades());
    QVERIFY(form.isVisible());  // no "\C": the window stays after the upgrade
    QVERIFY(form.FormClose());
    QVERIFY(form.close());
    QVERIFY(!form.isVisible());
}

void UploadTest::progressDisplay_data() {
    constexpr qint64 kMax = std::numeric_limits<qint64>::max();
    constexpr qint64 kMin = std::numeric_limits<qint64>::min();
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("done");
    QTest::addColumn<QString>("stage");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("caption");

    const QString pic = QStringLiteral("USB Pic uploading");
    QTest::newRow("nothing done") << qint64(5058) << qint64(0) << pic << 0 << "USB Pic uploading... (0%)";
    QTest::newRow("half done") << qint64(5058) << qint64(2529) << pic << 50 << "USB Pic uploading... (50%)";
    QTest::newRow("all done stops at 99") << qint64(5058) << qint64(5058) << pic << 99 << "USB Pic uploading... (99%)";
    QTest::newRow("no total, nothing done") << qint64(0) << qint64(0) << pic << 0 << "USB Pic uploading... (0%)";
    QTest::newRow("no total, one done") << qint64(0) << qint64(1) << pic << 99 << "USB Pic uploading... (99%)";
    QTest::newRow("one third truncated") << qint64(3) << qint64(1) << pic << 33 << "USB Pic uploading... (33%)";
    QTest::newRow("two thirds truncated") << qint64(3) << qint64(2) << pic << 66 << "USB Pic uploading... (66%)";
    QTest::newRow("extended rounding of 53 of 100") << qint64(100) << qint64(53) << pic << 52 << "USB Pic uploading... (52%)";
    QTest::newRow("negative total divides by 1") << qint64(-1536) << qint64(8) << QStringLiteral("Uploading Module 1") << 99
                                                 << "Uploading Module 1... (99%)";
    QTest::newRow("negative done shows the bar's bottom") << qint64(3) << qint64(-1) << pic << 0 << "USB Pic uploading... (0%)";
    QTest::newRow("most negative done") << qint64(1) << kMin << pic << 0 << "USB Pic uploading... (0%)";
    QTest::newRow("largest counts") << kMax << kMax << pic << 99 << "USB Pic uploading... (99%)";
    QTest::newRow("largest total, one short") << kMax << kMax - 1 << pic << 99 << "USB Pic uploading... (99%)";
    QTest::newRow("largest total, one done") << kMax << qint64(1) << pic << 0 << "USB Pic uploading... (0%)";
    QTest::newRow("largest done, no total") << kMin << kMax << pic << 99 << "USB Pic uploading... (99%)";
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
    fixture.script.holdInUpgrade = true;
    fixture.show();
    TMainForm& form = fixture.window();
    form.bUpload->click();
    QVERIFY(SpinUntil([&] { return fixture.log.count("holding") == 1; }));

    form.Timer1Timer();
    QCOMPARE(form.pbFWProcessing->value(), position);
    QCOMPARE(form.lFWProcessing->text(), caption);
    QVERIFY(form.lFWProcessing->width() >= form.lFWProcessing->fontMetrics().horizontalAdvance(caption));

    fixture.script.release.open();
    QVERIFY(fixture.waitForUpgrades());
    // Hidden with the values of the last tick.
    QVERIFY(!form.pbFWProcessing->isVisible());
    QCOMPARE(form.pbFWProcessing->value(), position);
}

void UploadTest::realMessageBox() {
    QtOperator op;
    WindowFixture fixture({}, {}, &op);
    op.setOwner(&fixture.window());
    fixture.script.message = "Instrument or FWU file is not IRIG CLOCK!";
    fixture.show();

    QString title, text;
    QMessageBox::Icon icon = QMessageBox::Critical;
    QMessageBox::StandardButtons buttons;
    QWidget* owner = nullptr;
    bool disabledWhileUp = false;
    WhenShown<QMessageBox> dismisser([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        owner = box->parentWidget();
        disabledWhileUp = !fixture.window().bUpload->isEnabled() && fixture.window().UploadThread != nullptr;
        box->accept();
    });
    fixture.window().bUpload->click();
    QVERIFY(fixture.waitForUpgrades());
    QCOMPARE(dismisser.seen, 1);
    QCOMPARE(title, QStringLiteral("Rovenza"));
    QCOMPARE(text, QStringLiteral("Instrument or FWU file is not IRIG CLOCK!"));
    QCOMPARE(icon, QMessageBox::NoIcon);
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(owner, &fixture.window());
    QVERIFY(disabledWhileUp);
    QVERIFY(fixture.window().bUpload->isEnabled());
}

void UploadTest::secondUpgradeAfterFirst() {
    WindowFixture fixture;
    fixture.show();
    TMainForm& form = fixture.window();
    form.bUpload->click();
    QVERIFY(fixture.waitForUpgrades(1));
    form.cbDeviceList->setCurrentIndex(4);
    form.leUpgrade->setText(QStringLiteral("/p/modules.fwu"));
    form.bUpload->click();
    QVERIFY(fixture.waitForUpgrades(2));
    QCOMPARE(fixture.log.count("upgrade 4 [/p/modules.fwu]"), 1);
    QCOMPARE(fixture.log.count("destroyed"), 2);
}

QTEST_MAIN(UploadTest)
#include "tst_upload.moc"
