#include "app/MainFormU.h"

#include <algorithm>

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

#include "app/FormStyle.h"
#include "app/GuiThreadCall.h"
#include "app/SystemText.h"
#include "package/WorkFolder.h"

namespace rovenza {


TMainForm::TMainForm(std::vector<std::string> args, const Context& ctx, UpgraderFactory createUpgrader,
                     QWidget* parent)
    : QWidget(parent, Qt::Window | kCloseBoxOnly), MainWindowLogic(std::move(args), ctx, std::move(createUpgrader)) {
    setFont(FormFont());
    setFixedSize(kMainClient.width, kMainClient.height);
    CreateControls();
    FormCreate();
}

TMainForm::~TMainForm() {
    // Closing is refused while an upgrade runs, so normally none does here. A window torn
    // down regardless keeps serving its worker (the message box, the completion handler)
    // until the upgrade has ended, since the worker cannot be stopped part-way.
    while (UploadThread) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    WaitForWorker();
}

void TMainForm::CreateControls() {
    Label1 = PlaceControl<QLabel>(this, LayoutOf(MainControl::Label1));

    cbDeviceList = PlaceControl<QComboBox>(this, LayoutOf(MainControl::cbDeviceList));
    cbDeviceList->setEditable(false);
    for (const FamilyEntry& family : kFamilies) cbDeviceList->addItem(Latin1(family.listText));

    bUpload = PlaceControl<QPushButton>(this, LayoutOf(MainControl::bUpload));

    lFWProcessing = PlaceControl<QLabel>(this, LayoutOf(MainControl::lFWProcessing));
    SetTextColor(lFWProcessing, Qt::red);
    lFWProcessing->hide();

    pbFWProcessing = PlaceControl<QProgressBar>(this, LayoutOf(MainControl::pbFWProcessing));
    pbFWProcessing->setRange(0, kProgressMax);
    pbFWProcessing->setValue(0);
    pbFWProcessing->setTextVisible(false);
    pbFWProcessing->hide();

    for (const FileFilter& filter : kPackageFilters) OpenDialog1.Filter << Latin1(filter.description);
    OpenDialog1.DefaultExt = Latin1(kPackageExtension);

    leUpgrade = PlaceControl<QLineEdit>(this, LayoutOf(MainControl::leUpgrade));
    const ControlLayout& box = LayoutOf(MainControl::leUpgrade);
    const QString fileLabel = Latin1(kFileNameLabel);
    const int fileLabelWidth = QFontMetrics(FormFont()).horizontalAdvance(fileLabel);
    leUpgradeLabel = PlaceControl<QLabel>(this, "leUpgradeLabel", box.left - kFileNameLabelGap - fileLabelWidth,
                                          box.top + (box.height - 13) / 2, fileLabelWidth, 13, fileLabel);
    leUpgradeLabel->setBuddy(leUpgrade);

    bopenDialog = PlaceControl<QPushButton>(this, LayoutOf(MainControl::bopenDialog));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kProgressIntervalMs);

    lVer = PlaceControl<QLabel>(this, LayoutOf(MainControl::lVer));
    lVersion = PlaceControl<QLabel>(this, LayoutOf(MainControl::lVersion));

    for (std::size_t i = 1; i < kMainTabOrder.size(); ++i)
        setTabOrder(Control(kMainTabOrder[i - 1]), Control(kMainTabOrder[i]));

    connect(bUpload, &QPushButton::clicked, this, [this] { bUploadClick(); });
    connect(bopenDialog, &QPushButton::clicked, this, &TMainForm::bopenDialogClick);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
}

QWidget* TMainForm::Control(MainControl control) const {
    switch (control) {
    case MainControl::Label1: return Label1;
    case MainControl::cbDeviceList: return cbDeviceList;
    case MainControl::bUpload: return bUpload;
    case MainControl::lFWProcessing: return lFWProcessing;
    case MainControl::pbFWProcessing: return pbFWProcessing;
    case MainControl::leUpgrade: return leUpgrade;
    case MainControl::bopenDialog: return bopenDialog;
    case MainControl::lVer: return lVer;
    case MainControl::lVersion: return lVersion;
    }
    return nullptr;
}

void TMainForm::FormCreate() {
    MainWindowLogic::FormCreate();
    FitCaptions(this);
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shown_) return;
    shown_ = true;
    // Centred on the screen, frame included (known once the window exists).
    if (const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    FormShow();
}

void TMainForm::FormShow() { ReadCommandLine(); }

void TMainForm::bopenDialogClick() {
    OpenDialog1.InitialDir = PathText(context().folders.packages);
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("OpenDialog1"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(OpenDialog1.Filter);
    dialog.setDefaultSuffix(OpenDialog1.DefaultExt);
    dialog.setDirectory(OpenDialog1.InitialDir);
    if (dialog.exec() != QDialog::Accepted) return;
    const QStringList files = dialog.selectedFiles();
    if (!files.isEmpty()) leUpgrade->setText(QDir::toNativeSeparators(files.first()));
}

void TMainForm::closeEvent(QCloseEvent* event) {
    // Refused silently while an upgrade runs.
    event->setAccepted(FormClose());
}

int TMainForm::SelectedFamily() const { return cbDeviceList->currentIndex(); }

void TMainForm::SelectFamily(int position) { cbDeviceList->setCurrentIndex(position); }

std::string TMainForm::FileName() const { return ToSystemText(leUpgrade->text()); }

void TMainForm::SetControlText(MainControl control, const std::string& text) {
    if (control == MainControl::leUpgrade) {
        leUpgrade->setText(FromSystemText(text));
    } else if (auto* label = qobject_cast<QLabel*>(Control(control))) {
        label->setText(FromSystemText(text));
        if (control == MainControl::lFWProcessing) FitProgressLabel();
    }
}

void TMainForm::SetControlEnabled(MainControl control, bool enabled) {
    Control(control)->setEnabled(enabled);
    if (control == MainControl::leUpgrade) leUpgradeLabel->setEnabled(enabled);  // the box's label goes with it
}

void TMainForm::SetControlShown(MainControl control, bool shown) { Control(control)->setVisible(shown); }

int TMainForm::SetBarPosition(int position) {
    pbFWProcessing->setValue(position);
    return pbFWProcessing->value();
}

void TMainForm::SetTimerRunning(bool running) {
    if (running) Timer1->start();
    else Timer1->stop();
}

void TMainForm::SetCaption(const std::string& caption) { setWindowTitle(FromSystemText(caption)); }

void TMainForm::CloseForm() { close(); }

void TMainForm::RunOnWindowThread(const std::function<void()>& work) { CallOnThreadOf(this, work); }

void TMainForm::UploadFinished() { emit uploadFinished(); }

void TMainForm::FitProgressLabel() {
    // The stage label sizes itself to its caption, within the window.
    const int wanted = lFWProcessing->fontMetrics().horizontalAdvance(lFWProcessing->text());
    lFWProcessing->resize(std::min(wanted, width() - lFWProcessing->x()), lFWProcessing->height());
}

}  // namespace rovenza
