// The main window as it stands after creation: controls, texts, positions, states, font,
// tab order, the folders it makes and the file dialog behind "...".
#include <filesystem>
#include <fstream>

#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "GuiTestSupport.h"

using namespace rovenza;
using namespace rovenza::guitest;

class MainFormLayoutTest : public QObject {
    Q_OBJECT
private slots:
    void controls_data();
    void controls();
    void window();
    void deviceList();
    void tabOrder();
    void createsProgramFolders();
    void openDialogSettings();
    void openDialogPutsChosenPathInBox();
    void openDialogCancelledChangesNothing();
};

void MainFormLayoutTest::controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<bool>("visible");

    QTest::newRow("Label1") << "Label1" << "Device:" << QRect(13, 8, 36, 13) << true;
    QTest::newRow("cbDeviceList") << "cbDeviceList" << "IRIG Clock" << QRect(64, 5, 235, 21) << true;
    QTest::newRow("bUpload") << "bUpload" << "Upload" << QRect(332, 31, 75, 21) << true;
    QTest::newRow("lFWProcessing") << "lFWProcessing" << "Processing..." << QRect(13, 60, 63, 13) << false;
    QTest::newRow("pbFWProcessing") << "pbFWProcessing" << QString() << QRect(13, 76, 295, 17) << false;
    QTest::newRow("leUpgrade") << "leUpgrade" << "" << QRect(64, 32, 235, 21) << true;
    QTest::newRow("bopenDialog") << "bopenDialog" << "..." << QRect(302, 31, 24, 23) << true;
    QTest::newRow("lVer") << "lVer" << "Version: " << QRect(314, 8, 42, 13) << true;
    QTest::newRow("lVersion") << "lVersion" << "5.4" << QRect(370, 8, 16, 13) << true;
}

void MainFormLayoutTest::controls() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QRect, geometry);
    QFETCH(bool, visible);

    WindowFixture fixture;
    fixture.show();
    auto* control = fixture.window().findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(control->parentWidget(), &fixture.window());
    // Labels grow to the right where the substitute for a missing Tahoma needs more room.
    if (auto* label = qobject_cast<QLabel*>(control); label && label != fixture.window().lFWProcessing)
        geometry.setWidth(std::max(geometry.width(), label->fontMetrics().horizontalAdvance(label->text())));
    QCOMPARE(control->geometry(), geometry);
    QCOMPARE(control->isVisible(), visible);
    QVERIFY(control->isEnabled());
    QCOMPARE(control->font().family(), QStringLiteral("Tahoma"));
    QCOMPARE(control->font().pixelSize(), 11);
    if (auto* combo = qobject_cast<QComboBox*>(control))
        QCOMPARE(combo->currentText(), text);
    else if (!text.isNull())
        QCOMPARE(control->property("text").toString(), text);
}

void MainFormLayoutTest::window() {
    WindowFixture fixture;
    fixture.show();
    TMainForm& form = fixture.window();

    QCOMPARE(form.windowTitle(), QStringLiteral("Rovenza"));
    QCOMPARE(form.size(), QSize(414, 108));
    QCOMPARE(form.minimumSize(), QSize(414, 108));
    QCOMPARE(form.maximumSize(), QSize(414, 108));
    QVERIFY(!(form.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(form.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(form.windowFlags() & Qt::WindowSystemMenuHint);
    QCOMPARE(form.font().pixelSize(), 11);
    const QPoint offCentre = form.frameGeometry().center() - form.screen()->availableGeometry().center();
    QVERIFY2(offCentre.manhattanLength() <= 1, "not centred on the screen");

    QCOMPARE(form.lFWProcessing->palette().color(QPalette::WindowText), QColor(Qt::red));
    QCOMPARE(form.pbFWProcessing->minimum(), 0);
    QCOMPARE(form.pbFWProcessing->maximum(), 100);
    QCOMPARE(form.pbFWProcessing->value(), 0);
    QCOMPARE(form.Timer1->interval(), 30);
    QVERIFY(!form.Timer1->isActive());
    QVERIFY(!form.Timer1->isSingleShot());
    QVERIFY(form.UploadThread == nullptr);
    QVERIFY(!form.CloseWhenDone);

    // The file-name box's label sits on its left, vertically centred on it.
    QCOMPARE(form.leUpgradeLabel->text(), QStringLiteral("File name:"));
    QCOMPARE(form.leUpgradeLabel->buddy(), form.leUpgrade);
    QCOMPARE(form.leUpgradeLabel->geometry().right() + 1, 64 - 3);
    QCOMPARE(form.leUpgradeLabel->y(), 36);
    QCOMPARE(form.leUpgradeLabel->height(), 13);
}

void MainFormLayoutTest::deviceList() {
    WindowFixture fixture;
    QComboBox* list = fixture.window().cbDeviceList;
    QVERIFY(!list->isEditable());
    const QStringList expected{"IRIG Clock", "ULMO", "Velkaro USB", "VK101 Power Controller", "VKUSB Zenara - Modules"};
    QStringList entries;
    for (int i = 0; i < list->count(); ++i) entries << list->itemText(i);
    QCOMPARE(entries, expected);
    QCOMPARE(list->currentIndex(), 0);
}

void MainFormLayoutTest::tabOrder() {
    WindowFixture fixture;
    TMainForm& form = fixture.window();
    const QList<QWidget*> ordered{form.cbDeviceList, form.bUpload, form.pbFWProcessing, form.leUpgrade, form.bopenDialog};
    QList<QWidget*> chain;
    QWidget* widget = form.cbDeviceList;
    do {
        if (ordered.contains(widget)) chain << widget;
        widget = widget->nextInFocusChain();
    } while (widget != form.cbDeviceList && chain.size() < ordered.size());
    QCOMPARE(chain, ordered);
}

void MainFormLayoutTest::createsProgramFolders() {
    WindowFixture fixture;
    QVERIFY(std::filesystem::is_directory(fixture.folder.path() / "Temp"));
    QVERIFY(std::filesystem::is_directory(fixture.folder.path() / "FWUs"));
}

void MainFormLayoutTest::openDialogSettings() {
    WindowFixture fixture;
    fixture.show();
    QStringList filters;
    QString suffix, directory;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptSave;
    QWidget* parent = nullptr;
    WhenShown<QFileDialog> inspector([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        suffix = dialog->defaultSuffix();
        mode = dialog->fileMode();
        acceptMode = dialog->acceptMode();
        directory = dialog->directory().absolutePath();
        parent = dialog->parentWidget();
        dialog->reject();
    });
    fixture.window().bopenDialog->click();
    QCOMPARE(inspector.seen, 1);
    QCOMPARE(filters, QStringList({"FW Update Files (*.fwu)", "All Files (*.*)"}));
    QCOMPARE(suffix, QStringLiteral("fwu"));
    QCOMPARE(mode, QFileDialog::ExistingFile);
    QCOMPARE(acceptMode, QFileDialog::AcceptOpen);
    QCOMPARE(directory, QString::fromStdString((fixture.folder.path() / "FWUs").string()));
    QCOMPARE(parent, &fixture.window());
}

void MainFormLayoutTest::openDialogPutsChosenPathInBox() {
    WindowFixture fixture;
    fixture.show();
    const std::filesystem::path package = fixture.folder.path() / "FWUs" / "pc.fwu";
    std::ofstream(package) << "zip";
    const QString packageText = QString::fromStdString(package.string());

    WhenShown<QFileDialog> chooser([&](QFileDialog* dialog) {
        dialog->selectFile(packageText);
        static_cast<QDialog*>(dialog)->accept();  // accepts as the Open button does
    });
    fixture.window().bopenDialog->click();
    QCOMPARE(chooser.seen, 1);
    QCOMPARE(fixture.window().leUpgrade->text(), packageText);
}

void MainFormLayoutTest::openDialogCancelledChangesNothing() {
    WindowFixture fixture;
    fixture.show();
    fixture.window().leUpgrade->setText(QStringLiteral("/kept/path.fwu"));
    WhenShown<QFileDialog> canceller([](QFileDialog* dialog) { dialog->reject(); });
    fixture.window().bopenDialogClick();
    QCOMPARE(canceller.seen, 1);
    QCOMPARE(fixture.window().leUpgrade->text(), QStringLiteral("/kept/path.fwu"));
}

QTEST_MAIN(MainFormLayoutTest)
#include "tst_mainform_layout.moc"
