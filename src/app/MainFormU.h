#pragma once
// The main window: the operator picks the instrument family and the FWU package and starts
// one upgrade at a time; the command line can do the same when the window is first shown.
// TUploadThread runs that one upgrade; the window's timer shows its progress meanwhile.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>
#include <QThread>
#include <QWidget>

#include "devices/Families.h"
#include "devices/USBDevice.h"
#include "platform/Context.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace rovenza {

class TMainForm;

// Makes the upgrader of the family at a list position (the program uses CreateUpgrader).
using UpgraderFactory = std::function<std::unique_ptr<TUSBDevice>(int listPosition, const Context& ctx)>;

// The worker of one upgrade. Created without running (started by the window once Device and
// PackageFileName are set), it runs Upgrade once, shows the resulting message, lets the
// window restore itself and then frees the upgrader; the window deletes the thread object.
class TUploadThread final : public QThread {
    Q_OBJECT
public:
    explicit TUploadThread(TMainForm& form);
    ~TUploadThread() override;

    // Owned by the thread; freed on the worker thread once the window has run OnUploadDone.
    std::unique_ptr<TUSBDevice> Device;
    // The package path, copied from the window's file-name box on the window's thread just
    // before the thread starts.
    std::string PackageFileName;

protected:
    void run() override;  // Execute

private:
    TMainForm& form_;
    // Orders the worker's last writes (the freed upgrader) before the destructor's reads.
    std::mutex endMutex_;
};

// The settings of the file-open dialog behind "..."; the dialog itself is built when needed.
struct TOpenDialog {
    QString DefaultExt = QStringLiteral("fwu");
    QStringList Filter{QStringLiteral("FW Update Files (*.fwu)"), QStringLiteral("All Files (*.*)")};
    QString InitialDir;
};

class TMainForm final : public QWidget {
    Q_OBJECT
public:
    // `args` are the command-line arguments after the program name; `ctx` reaches the
    // instruments, the operator and the program folder and must outlive the window.
    TMainForm(std::vector<std::string> args, const Context& ctx,
              UpgraderFactory createUpgrader = &CreateUpgrader, QWidget* parent = nullptr);
    // Waits for a worker that is still finishing.
    ~TMainForm() override;

    // Controls, in declaration order.
    QLabel* Label1;
    QComboBox* cbDeviceList;
    QPushButton* bUpload;
    QLabel* lFWProcessing;
    QProgressBar* pbFWProcessing;
    TOpenDialog OpenDialog1;
    QLineEdit* leUpgrade;
    QLabel* leUpgradeLabel;  // the box's label on its left
    QPushButton* bopenDialog;
    QTimer* Timer1;
    QLabel* lVer;
    QLabel* lVersion;

    // The running upgrade, or none.
    TUploadThread* UploadThread = nullptr;
    // Set by "\C": the window closes itself after an upgrade has finished.
    bool CloseWhenDone = false;

    // Event handlers.
    void FormCreate();
    void FormShow();
    void bopenDialogClick();
    void bUploadClick();
    bool FormClose();  // whether a close request is honoured
    void Timer1Timer();
    void OnUploadDone();

    const Context& context() const { return ctx_; }

signals:
    // Emitted at the end of OnUploadDone, when the window is idle again.
    void uploadFinished();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void SetUploadControlsEnabled(bool enabled);
    void FitProgressLabel();

    std::vector<std::string> args_;
    const Context& ctx_;
    UpgraderFactory createUpgrader_;
    bool shown_ = false;
    // The worker of the last upgrade: the window deletes it once it has ended.
    std::unique_ptr<TUploadThread> lastWorker_;
};

}  // namespace rovenza
