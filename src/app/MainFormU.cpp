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
#include "devices/USBDevice.h"
#include "frontend/Progress.h"
#include "package/WorkFolder.h"

namespace rovenza {

namespace {

constexpr const char* kCaption = "Rovenza";
constexpr int kClientWidth = 414;
constexpr int kClientHeight = 108;
constexpr int kLabelSpacing = 3;  // between the file-name box and its label

}  // namespace

TMainForm::TMainForm(std::vector<std::string> args, const Context& ctx, UpgraderFactory createUpgrader,
                     QWidget* parent)
    : QWidget(parent, Qt::Window | kCloseBoxOnly),
      args_(std::move(args)),
      ctx_(ctx),
      createUpgrader_(std::move(createUpgrader)) {
    setFont(FormFont());
    setFixedSize(kClientWidth, kClientHeight);
    CreateControls();
    FormCreate();
}

TMainForm::~TMainForm() {
    // Closing is refused while an upgrade runs, so normally none does here. A window torn
    // down regardless keeps serving its worker (the message box, the completion handler)
    // until the upgrade has ended, since the worker cannot be stopped part-way.
    while (UploadThread) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    lastWorker_.reset();
}

void TMainForm::CreateControls() {
    Label1 = PlaceControl<QLabel>(this, "Label1", 13, 8, 36, 13, QStringLiteral("Device:"));

    cbDeviceList = PlaceControl<QComboBox>(this, "cbDeviceList", 64, 5, 235, 21);
    cbDeviceList->setEditable(false);
    for (const FamilyEntry& family : kFamilies)
        cbDeviceList->addItem(QString::fromLatin1(family.listText.data(), static_cast<qsizetype>(family.listText.size())));

    bUpload = PlaceControl<QPushButton>(this, "bUpload", 332, 31, 75, 21, QStringLiteral("Upload"));

    lFWProcessing = PlaceControl<QLabel>(this, "lFWProcessing", 13, 60, 63, 13, QStringLiteral("Processing..."));
    SetTextColor(lFWProcessing, Qt::red);
    lFWProcessing->hide();

    pbFWProcessing = PlaceControl<QProgressBar>(this, "pbFWProcessing", 13, 76, 295, 17);
    pbFWProcessing->setRange(0, 100);
    pbFWProcessing->setValue(0);
    pbFWProcessing->setTextVisible(false);
    pbFWProcessing->hide();

    leUpgrade = PlaceControl<QLineEdit>(this, "leUpgrade", 64, 32, 235, 21);
    const QString fileLabel = QStringLiteral("File name:");
    const int fileLabelWidth = QFontMetrics(FormFont()).horizontalAdvance(fileLabel);
    leUpgradeLabel = PlaceControl<QLabel>(this, "leUpgradeLabel", 64 - kLabelSpacing - fileLabelWidth,
                                          32 + (21 - 13) / 2, fileLabelWidth, 13, fileLabel);
    leUpgradeLabel->setBuddy(leUpgrade);

    bopenDialog = PlaceControl<QPushButton>(this, "bopenDialog", 302, 31, 24, 23, QStringLiteral("..."));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(30);

    lVer = PlaceControl<QLabel>(this, "lVer", 314, 8, 42, 13, QStringLiteral("Version: "));
    lVersion = PlaceControl<QLabel>(this, "lVersion", 370, 8, 16, 13, QStringLiteral("1.1"));

    setTabOrder(cbDeviceList, bUpload);
    setTabOrder(bUpload, pbFWProcessing);
    setTabOrder(pbFWProcessing, leUpgrade);
    setTabOrder(leUpgrade, bopenDialog);

    connect(bUpload, &QPushButton::clicked, this, &TMainForm::bUploadClick);
    connect(bopenDialog, &QPushButton::clicked, this, &TMainForm::bopenDialogClick);
    connect(Timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);
}

void TMainForm::FormCreate() {
    UploadThread = nullptr;
    cbDeviceList->setCurrentIndex(0);
    lVersion->setText(QString::fromLatin1(ROVENZA_VERSION));
    FitCaptions(this);
    setWindowTitle(QString::fromLatin1(kCaption));
    CreateProgramFolders(ctx_.folders);
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

void TMainForm::FormShow() {
    // Switches are whole arguments, compared case-sensitively; the argument after "\D" or
    // "\F" is always taken as its value, even when it looks like a switch.
    std::size_t cursor = 0;
    while (cursor < args_.size()) {
        const std::string& argument = args_[cursor++];
        if (argument == "\\D") {
            if (cursor < args_.size()) {
                const int position = FindFamily(args_[cursor++]);
                cbDeviceList->setCurrentIndex(position >= 0 ? position : 0);
            }
        } else if (argument == "\\F") {
            leUpgrade->setText(cursor < args_.size() ? FromSystemText(args_[cursor++]) : QString());
        } else if (argument == "\\U") {
            bUploadClick();
        } else if (argument == "\\C") {
            CloseWhenDone = true;
        }
    }
}

void TMainForm::bopenDialogClick() {
    OpenDialog1.InitialDir = PathText(ctx_.folders.packages);
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

void TMainForm::bUploadClick() {
    // One upgrade at a time: the button is disabled while one runs, and a second "\U" on the
    // command line is ignored.
    if (UploadThread) return;
    // The previous worker may still be freeing its upgrader; the next one starts after it.
    lastWorker_.reset();

    lastWorker_ = std::make_unique<TUploadThread>(*this);
    TUploadThread* thread = lastWorker_.get();
    UploadThread = thread;
    try {
        thread->Device = createUpgrader_(cbDeviceList->currentIndex(), ctx_);
    } catch (...) {
        // Reported like any failed run: the worker shows "Error".
    }

    Timer1->start();
    pbFWProcessing->show();
    lFWProcessing->show();
    SetUploadControlsEnabled(false);

    thread->PackageFileName = ToSystemText(leUpgrade->text());
    thread->start();
}

bool TMainForm::FormClose() { return UploadThread == nullptr; }

void TMainForm::closeEvent(QCloseEvent* event) {
    // Refused silently while an upgrade runs.
    event->setAccepted(FormClose());
}

void TMainForm::Timer1Timer() {
    if (!UploadThread || !UploadThread->Device) return;
    TUSBDevice& device = *UploadThread->Device;
    const int position = ProgressPosition(device.GetTotalCount(), device.GetDoneCount());
    // The bar holds positions inside its range, as the native control does.
    pbFWProcessing->setValue(std::clamp(position, pbFWProcessing->minimum(), pbFWProcessing->maximum()));
    lFWProcessing->setText(FromSystemText(ProgressCaption(device.GetStageText(), pbFWProcessing->value())));
    FitProgressLabel();
}

void TMainForm::FitProgressLabel() {
    // The stage label sizes itself to its caption, within the window.
    const int wanted = lFWProcessing->fontMetrics().horizontalAdvance(lFWProcessing->text());
    lFWProcessing->resize(std::min(wanted, width() - lFWProcessing->x()), lFWProcessing->height());
}

void TMainForm::OnUploadDone() {
    Timer1->stop();
    pbFWProcessing->hide();
    lFWProcessing->hide();
    SetUploadControlsEnabled(true);
    UploadThread = nullptr;
    if (CloseWhenDone) close();
    emit uploadFinished();
}

void TMainForm::SetUploadControlsEnabled(bool enabled) {
    bUpload->setEnabled(enabled);
    cbDeviceList->setEnabled(enabled);
    leUpgrade->setEnabled(enabled);
    leUpgradeLabel->setEnabled(enabled);
    bopenDialog->setEnabled(enabled);
    Label1->setEnabled(enabled);
}

// ---------------------------------------------------------------------------------------

TUploadThread::TUploadThread(TMainForm& form) : form_(form) {}

TUploadThread::~TUploadThread() {
    wait();
    std::lock_guard<std::mutex> lock(endMutex_);
    Device.reset();  // a thread that never ran still owns its upgrader
}

void TUploadThread::run() {
    std::string message(kMsgError);
    try {
        if (Device) {
            Device->PackageFileName = PackageFileName;
            Device->Upgrade(message);
        }
    } catch (...) {
        // Dropped: the message keeps the value it had when the exception was raised.
    }
    try {
        form_.context().op.showMessage(kCaption, message);
    } catch (...) {
    }
    try {
        CallOnThreadOf(&form_, [this] { form_.OnUploadDone(); });
    } catch (...) {
    }
    // The window has stopped its timer and forgotten this thread: nothing reads the upgrader
    // any more. Close it through the family's own Close, then free it.
    std::lock_guard<std::mutex> lock(endMutex_);
    if (Device) {
        try {
            Device->Close("");
        } catch (...) {
        }
        Device.reset();
    }
}

}  // namespace rovenza
