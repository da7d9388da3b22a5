#pragma once
// The main window in Qt: the operator picks the instrument family and the FWU package and
// starts one upgrade at a time; the command line can do the same when the window is first
// shown. MainWindowLogic decides what happens; this class draws it with Qt's widgets.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>
#include <QWidget>

#include "frontend/MainWindowLogic.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace rovenza {

// The settings of the file-open dialog behind "..."; the dialog itself is built when needed.
struct TOpenDialog {
    QString DefaultExt;
    QStringList Filter;  // "description (pattern)" per filter
    QString InitialDir;
};

class TMainForm final : public QWidget, public MainWindowLogic {
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

    // Event handlers beside MainWindowLogic's.
    void FormCreate();
    void FormShow();
    void bopenDialogClick();

signals:
    // Emitted at the end of OnUploadDone, when the window is idle again.
    void uploadFinished();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    // What MainWindowLogic asks of the view.
    int SelectedFamily() const override;
    void SelectFamily(int position) override;
    std::string FileName() const override;
    void SetControlText(MainControl control, const std::string& text) override;
    void SetControlEnabled(MainControl control, bool enabled) override;
    void SetControlShown(MainControl control, bool shown) override;
    int SetBarPosition(int position) override;
    void SetTimerRunning(bool running) override;
    void SetCaption(const std::string& caption) override;
    void CloseForm() override;
    void RunOnWindowThread(const std::function<void()>& work) override;
    void UploadFinished() override;

private:
    void CreateControls();
    QWidget* Control(MainControl control) const;
    void FitProgressLabel();

    bool shown_ = false;
};

}  // namespace rovenza
