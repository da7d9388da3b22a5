#pragma once
// What the main window does, apart from drawing it: the command line it reads when first shown,
// the upload worker's life, the progress display's rule, when closing is refused, which
// controls the two states enable and show, and the questions of the two upgrade dialogs. The
// window front ends (Qt, Win32) derive their main window from MainWindowLogic and draw what it
// decides; nothing here knows a toolkit.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "devices/Families.h"
#include "devices/USBDevice.h"
#include "frontend/Forms.h"
#include "platform/Context.h"

namespace rovenza {

// Makes the upgrader of the family at a list position (the program uses CreateUpgrader).
using UpgraderFactory = std::function<std::unique_ptr<TUSBDevice>(int listPosition, const Context& ctx)>;

// --- The command line -----------------------------------------------------------------------

// One step of the command line, applied in order when the window is first shown.
struct WindowCommand {
    enum Kind { SelectFamily, SetFileName, Upload, CloseWhenDone } kind;
    int family = 0;    // SelectFamily: the list position
    std::string text;  // SetFileName: the box's new text

    bool operator==(const WindowCommand&) const = default;
};

// "\D" name (the entry matching without regard to case, else the first), "\F" file (empty when
// it is the last argument), "\U", "\C": whole arguments, compared case-sensitively; the
// argument after "\D" or "\F" is always their value; anything else is skipped.
std::vector<WindowCommand> ReadWindowCommandLine(const std::vector<std::string>& args);

// What the window program answers before it opens a window (so without a display): its usage
// for "--help" or "-h", its version for "--version"; nothing for anything else.
std::optional<std::string> WindowProgramAnswer(const std::vector<std::string>& args);

// --- The worker -----------------------------------------------------------------------------

// The worker of one upgrade. Made without running (started once Device and PackageFileName are
// set), it runs Upgrade once, shows the resulting message, hands the completion to the window
// and waits for it, and then closes and frees the upgrader.
class TUploadThread {
public:
    // `finished` runs on the worker after the message box has been dismissed: it must run the
    // window's completion handler on the window's thread and return once that has run.
    TUploadThread(Operator& op, std::function<void()> finished);
    // Waits for the worker; frees an upgrader that never ran.
    ~TUploadThread();
    TUploadThread(const TUploadThread&) = delete;
    TUploadThread& operator=(const TUploadThread&) = delete;

    // Owned by the thread; freed on the worker thread once the window has run its completion.
    std::unique_ptr<TUSBDevice> Device;
    // The package path, copied from the window's file-name box on the window's thread.
    std::string PackageFileName;

    void Start();

private:
    void Execute();

    Operator& op_;
    std::function<void()> finished_;
    std::thread thread_;
    // Orders the worker's last writes (the freed upgrader) before the destructor's reads.
    std::mutex endMutex_;
};

// --- The progress display ---------------------------------------------------------------------

// The bar's position for the counts, held in the bar's range as the native control holds it.
int ProgressBarPosition(std::int64_t total, std::int64_t done);

// --- The main window ------------------------------------------------------------------------

// The main window's state and handlers; the view supplies the controls.
class MainWindowLogic {
public:
    // `ctx` reaches the instruments, the operator and the program folder and must outlive the
    // window.
    MainWindowLogic(std::vector<std::string> args, const Context& ctx, UpgraderFactory createUpgrader);
    virtual ~MainWindowLogic();
    MainWindowLogic(const MainWindowLogic&) = delete;
    MainWindowLogic& operator=(const MainWindowLogic&) = delete;

    // The running upgrade, or none.
    TUploadThread* UploadThread = nullptr;
    // Set by "\C": the window closes itself after an upgrade has finished.
    bool CloseWhenDone = false;

    // Handlers; all run on the window's thread.
    void FormCreate();   // once, when the window has its controls
    void ReadCommandLine();  // the first time the window is shown
    void bUploadClick();
    bool FormClose() const;  // whether a close request is honoured
    void Timer1Timer();
    void OnUploadDone();

    const Context& context() const { return ctx_; }

    // The inputs an upgrade disables and its end enables again, in that order.
    static constexpr std::array<MainControl, 5> kUploadInputs{MainControl::bUpload, MainControl::cbDeviceList,
                                                              MainControl::leUpgrade, MainControl::bopenDialog,
                                                              MainControl::Label1};
    // The controls shown only while an upgrade runs.
    static constexpr std::array<MainControl, 2> kProgressControls{MainControl::pbFWProcessing,
                                                                  MainControl::lFWProcessing};

protected:
    // What the view draws and reads. The text of cbDeviceList is its selected list position.
    virtual int SelectedFamily() const = 0;
    virtual void SelectFamily(int position) = 0;
    virtual std::string FileName() const = 0;  // leUpgrade's text
    virtual void SetControlText(MainControl control, const std::string& text) = 0;
    virtual void SetControlEnabled(MainControl control, bool enabled) = 0;
    virtual void SetControlShown(MainControl control, bool shown) = 0;
    // Moves the bar and returns the position it shows.
    virtual int SetBarPosition(int position) = 0;
    virtual void SetTimerRunning(bool running) = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual void CloseForm() = 0;
    // Called on the worker: runs `work` on the window's thread and returns once it has run.
    virtual void RunOnWindowThread(const std::function<void()>& work) = 0;
    // After the completion handler, when the window is idle again.
    virtual void UploadFinished() {}

    // Waits for the last upgrade's worker to end. A view calls it first thing in its
    // destructor, since a worker that is still running may yet ask it to run something.
    void WaitForWorker() { lastWorker_.reset(); }

private:
    std::vector<std::string> args_;
    const Context& ctx_;
    UpgraderFactory createUpgrader_;
    // The worker of the last upgrade: kept until it has ended, waited for by the next one.
    std::unique_ptr<TUploadThread> lastWorker_;
};

// --- The operator's dialogs -------------------------------------------------------------------

// The modal result with which "Upgrade" and "OK" close their dialogs.
inline constexpr int kConfirmResult = 1;

// The device selection dialog's items: "VKUSB SN: ..." texts, all checked at first.
struct DeviceChoice {
    explicit DeviceChoice(std::vector<std::string> items)
        : items(std::move(items)), checks(this->items.size(), true) {}
    std::vector<std::string> items;
    std::vector<bool> checks;

    void SelectAll() { checks.assign(checks.size(), true); }
    int CheckedCount() const;
    // What the operator answered by closing the dialog with `modalResult`: the check marks
    // when "Upgrade" closed it, nothing otherwise.
    std::optional<std::vector<bool>> Answer(int modalResult) const;
};

// The module type dialog: "Module <slot + 1> cannot be detected!" for a slot counted from 0.
std::string ModuleTypeLabel(int slot);
// The type code chosen: entry index + 1 when "OK" closed the dialog, nothing otherwise.
std::optional<int> ModuleTypeAnswer(int modalResult, int entryIndex);

}  // namespace rovenza
