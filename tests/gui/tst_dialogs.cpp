// The two dialogs an upgrade may need, their layout and answers, and the operator that
// shows them on the window's thread for a worker that waits for the answer.
#include <atomic>
#include <optional>
#include <thread>

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "GuiTestSupport.h"
#include "app/QtOperator.h"
#include "app/SelectDeviceFormU.h"
#include "app/SelectModuleTypeUnit.h"

using namespace rovenza;
using namespace rovenza::guitest;

namespace {

// Runs `question` on a worker thread while the window's thread serves it; returns its answer.
template <class F>
auto AskFromWorker(F question) -> std::optional<decltype(question())> {
    std::optional<decltype(question())> answer;
    std::atomic<bool> answered{false};
    std::thread worker([&] {
        answer = question();
        answered = true;
        WakeGuiThread();
    });
    const bool ok = SpinUntil([&] { return answered.load(); });
    worker.join();
    if (!ok) return std::nullopt;
    return answer;
}

void CompareControl(QWidget* form, const char* name, const QRect& geometry, const QString& text) {
    auto* control = form->findChild<QWidget*>(QString::fromLatin1(name));
    QVERIFY2(control, name);
    QCOMPARE(control->geometry(), geometry);
    QCOMPARE(control->font().pixelSize(), 11);
    if (!text.isNull()) QCOMPARE(control->property("text").toString(), text);
}

QList<QWidget*> FocusChain(QWidget* first, const QList<QWidget*>& controls) {
    QList<QWidget*> chain;
    QWidget* widget = first;
    do {
        if (controls.contains(widget)) chain << widget;
        widget = widget->nextInFocusChain();
    } while (widget != first && chain.size() < controls.size());
    return chain;
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void deviceFormLayout();
    void deviceFormCheckedCountAndSelectAll();
    void moduleTypeFormLayout();
    void chooseDevicesConfirmed();
    void chooseDevicesClosed();
    void chooseModuleTypeConfirmed();
    void chooseModuleTypeClosed();
    void operatorOnWindowThreadAsksDirectly();
    void showMessageFromWorker();
};

void DialogsTest::deviceFormLayout() {
    TSelectDeviceForm form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Deviecs"));
    QCOMPARE(form.size(), QSize(355, 139));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(!(form.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(form.font().pixelSize(), 11);
    CompareControl(&form, "UpgradeButton", QRect(271, 6, 75, 25), QStringLiteral("Upgrade"));
    CompareControl(&form, "DevicesCheckListBox", QRect(8, 8, 257, 123), QString());
    CompareControl(&form, "Button1", QRect(271, 37, 75, 25), QStringLiteral("Select All"));
    QCOMPARE(FocusChain(form.UpgradeButton, {form.UpgradeButton, form.DevicesCheckListBox, form.Button1}),
             QList<QWidget*>({form.UpgradeButton, form.DevicesCheckListBox, form.Button1}));
    form.AddDevice(QStringLiteral("VKUSB SN: 1234"));
    QCOMPARE(form.DevicesCheckListBox->item(0)->sizeHint().height(), 13);
}

void DialogsTest::deviceFormCheckedCountAndSelectAll() {
    TSelectDeviceForm form;
    for (const char* serial : {"VKUSB SN: 1", "VKUSB SN: 2", "VKUSB SN: 3"}) form.AddDevice(QString::fromLatin1(serial));
    QCOMPARE(form.CheckedCount(), 3);
    form.DevicesCheckListBox->item(0)->setCheckState(Qt::Unchecked);
    form.DevicesCheckListBox->item(2)->setCheckState(Qt::Unchecked);
    QCOMPARE(form.CheckedCount(), 1);
    QCOMPARE(form.CheckMarks(), std::vector<bool>({false, true, false}));
    form.Button1->click();
    QCOMPARE(form.CheckedCount(), 3);
    QVERIFY(!form.isVisible());  // "Select All" leaves the dialog as it was
    QCOMPARE(form.result(), 0);
}

void DialogsTest::moduleTypeFormLayout() {
    TSelectModuleTypeForm form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Module Type"));
    QCOMPARE(form.size(), QSize(422, 59));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(form.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!(form.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    CompareControl(&form, "ModuleLabel", QRect(8, 11, 142, 13), QStringLiteral("Module I cannot be detected."));
    CompareControl(&form, "Label2", QRect(8, 31, 174, 13), QStringLiteral("Please, select the new module type:"));
    CompareControl(&form, "ModuleTypeComboBox", QRect(188, 28, 145, 21), QString());
    CompareControl(&form, "OKButton", QRect(339, 26, 75, 25), QStringLiteral("OK"));
    QCOMPARE(form.ModuleLabel->palette().color(QPalette::WindowText), QColor(Qt::red));

    QStringList entries;
    for (int i = 0; i < form.ModuleTypeComboBox->count(); ++i) entries << form.ModuleTypeComboBox->itemText(i);
    QCOMPARE(entries, QStringList({"IEPE", "MULTIMP", "HV", "BR", "IEPE CNT", "LV"}));
    QCOMPARE(form.ModuleTypeComboBox->currentText(), QStringLiteral("IEPE"));
    QVERIFY(!form.ModuleTypeComboBox->isEditable());
    QCOMPARE(FocusChain(form.ModuleTypeComboBox, {form.ModuleTypeComboBox, form.OKButton}),
             QList<QWidget*>({form.ModuleTypeComboBox, form.OKButton}));

    form.SetUndetectedSlot(7);
    QCOMPARE(form.ModuleLabel->text(), QStringLiteral("Module 8 cannot be detected!"));
    QVERIFY(form.ModuleLabel->width() >= 142);
}

void DialogsTest::chooseDevicesConfirmed() {
    QWidget owner;
    QtOperator op;
    op.setOwner(&owner);
    QStringList shownItems;
    bool allChecked = false;
    QWidget* parent = nullptr;
    WhenShown<TSelectDeviceForm> chooser([&](TSelectDeviceForm* form) {
        for (int i = 0; i < form->DevicesCheckListBox->count(); ++i) shownItems << form->DevicesCheckListBox->item(i)->text();
        allChecked = form->CheckedCount() == form->DevicesCheckListBox->count();
        parent = form->parentWidget();
        form->DevicesCheckListBox->item(1)->setCheckState(Qt::Unchecked);
        form->UpgradeButton->click();
    });
    const auto answer = AskFromWorker([&] { return op.chooseDevices({"VKUSB SN: 1234", "VKUSB SN: AB", "VKUSB SN: TV000003"}); });
    QVERIFY(answer.has_value());
    QCOMPARE(answer->value(), std::vector<bool>({true, false, true}));
    QCOMPARE(shownItems, QStringList({"VKUSB SN: 1234", "VKUSB SN: AB", "VKUSB SN: TV000003"}));
    QVERIFY(allChecked);
    QCOMPARE(parent, &owner);
}

void DialogsTest::chooseDevicesClosed() {
    QtOperator op;
    WhenShown<TSelectDeviceForm> closer([](TSelectDeviceForm* form) { form->close(); });
    const auto answer = AskFromWorker([&] { return op.chooseDevices({"VKUSB SN: 1", "VKUSB SN: 2"}); });
    QVERIFY(answer.has_value());
    QVERIFY(!answer->has_value());
    QCOMPARE(closer.seen, 1);
}

void DialogsTest::chooseModuleTypeConfirmed() {
    QtOperator op;
    QString label;
    WhenShown<TSelectModuleTypeForm> chooser([&](TSelectModuleTypeForm* form) {
        label = form->ModuleLabel->text();
        form->ModuleTypeComboBox->setCurrentIndex(3);  // "BR"
        form->OKButton->click();
    });
    const auto answer = AskFromWorker([&] { return op.chooseModuleType(0); });
    QVERIFY(answer.has_value());
    QCOMPARE(answer->value_or(-1), 4);
    QCOMPARE(label, QStringLiteral("Module 1 cannot be detected!"));
}

void DialogsTest::chooseModuleTypeClosed() {
    QtOperator op;
    WhenShown<TSelectModuleTypeForm> closer([](TSelectModuleTypeForm* form) {
        form->ModuleTypeComboBox->setCurrentIndex(5);
        form->close();
    });
    const auto answer = AskFromWorker([&] { return op.chooseModuleType(6); });
    QVERIFY(answer.has_value());
    QVERIFY(!answer->has_value());
}

void DialogsTest::operatorOnWindowThreadAsksDirectly() {
    QtOperator op;
    WhenShown<TSelectModuleTypeForm> chooser([](TSelectModuleTypeForm* form) {
        form->ModuleTypeComboBox->setCurrentIndex(5);  // "LV"
        form->OKButton->click();
    });
    QCOMPARE(op.chooseModuleType(2).value_or(-1), 6);
}

void DialogsTest::showMessageFromWorker() {
    QWidget owner;
    QtOperator op;
    op.setOwner(&owner);
    QString text;
    QWidget* parent = nullptr;
    WhenShown<QMessageBox> dismisser([&](QMessageBox* box) {
        text = box->text();
        parent = box->parentWidget();
        box->accept();
    });
    // Plain text: markup in a message is shown as it is.
    const auto done = AskFromWorker([&] {
        op.showMessage("Rovenza", "Error: \n\r<b>write</b>");
        return true;
    });
    QVERIFY(done.has_value());
    QCOMPARE(text, QStringLiteral("Error: \n\r<b>write</b>"));
    QCOMPARE(parent, &owner);
}

QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"
