#include "MainWindowLogic.h"

#include <algorithm>

#include "catalog/InstrumentCatalog.h"
#include "frontend/Progress.h"
#include "package/WorkFolder.h"

namespace rovenza {

std::vector<WindowCommand> ReadWindowCommandLine(const std::vector<std::string>& args) {
    std::vector<WindowCommand> commands;
    std::size_t cursor = 0;
    while (cursor < args.size()) {
        const std::string& argument = args[cursor++];
        if (argument == "\\D") {
            if (cursor < args.size()) {
                const int position = FindFamily(args[cursor++]);
                commands.push_back({WindowCommand::SelectFamily, position >= 0 ? position : 0, {}});
            }
        } else if (argument == "\\F") {
            commands.push_back({WindowCommand::SetFileName, 0, cursor < args.size() ? args[cursor++] : std::string()});
        } else if (argument == "\\U") {
            commands.push_back({WindowCommand::Upload, 0, {}});
        } else if (argument == "\\C") {
            commands.push_back({WindowCommand::CloseWhenDone, 0, {}});
        }
    }
    return commands;
}

std::optional<std::string> WindowProgramAnswer(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--version") return std::string("rovenza ") + ROVENZA_VERSION + "\n";
        if (arg != "--help" && arg != "-h") continue;
        std::string usage =
            "Usage: rovenza [\\D FAMILY] [\\F PACKAGE] [\\U] [\\C] [options]\n"
            "Opens the window that writes a firmware package (.fwu) into an attached instrument.\n\n"
            "  \\D FAMILY          the family chosen in the window's list:\n";
        for (const auto& family : kFamilies) usage += "                     \"" + std::string(family.listText) + "\"\n";
        usage +=
            "  \\F PACKAGE         the package chosen\n"
            "  \\U                 start the upgrade\n"
            "  \\C                 close the window when the upgrade ends\n"
            "  --simulate[=BENCH] use the simulated instrument bench (BENCH: a bench file)\n"
            "  --bench-dump DIR   write the bench's request log, memories and bench.json to DIR\n"
            "  --speed N          on the virtual-time bench, N seconds of protocol waits a second\n"
            "  --trace FILE       write the command trace of the instrument conversation to FILE\n"
            "  --program-folder DIR  the folder whose Temp and FWUs folders are used\n"
            "  --help, --version\n\n"
            "rovenza-cli upgrades without a window.\n";
        return usage;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------

TUploadThread::TUploadThread(Operator& op, std::function<void()> finished) : op_(op), finished_(std::move(finished)) {}

TUploadThread::~TUploadThread() {
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(endMutex_);
    Device.reset();  // a thread that never ran still owns its upgrader
}

void TUploadThread::Start() { thread_ = std::thread([this] { Execute(); }); }

void TUploadThread::Execute() {
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
        op_.showMessage(std::string(kAppCaption), message);
    } catch (...) {
    }
    try {
        finished_();
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

int ProgressBarPosition(std::int64_t total, std::int64_t done) {
    return std::clamp(ProgressPosition(total, done), 0, kProgressMax);
}

// ---------------------------------------------------------------------------------------------

MainWindowLogic::MainWindowLogic(std::vector<std::string> args, const Context& ctx, UpgraderFactory createUpgrader)
    : args_(std::move(args)), ctx_(ctx), createUpgrader_(std::move(createUpgrader)) {}

MainWindowLogic::~MainWindowLogic() { lastWorker_.reset(); }

void MainWindowLogic::FormCreate() {
    UploadThread = nullptr;
    SelectFamily(0);
    SetControlText(MainControl::lVersion, ROVENZA_VERSION);
    SetCaption(std::string(kAppCaption));
    CreateProgramFolders(ctx_.folders);
}

void MainWindowLogic::ReadCommandLine() {
    for (const WindowCommand& command : ReadWindowCommandLine(args_)) {
        switch (command.kind) {
        case WindowCommand::SelectFamily: SelectFamily(command.family); break;
        case WindowCommand::SetFileName: SetControlText(MainControl::leUpgrade, command.text); break;
        case WindowCommand::Upload: bUploadClick(); break;
        case WindowCommand::CloseWhenDone: CloseWhenDone = true; break;
        }
    }
}

void MainWindowLogic::bUploadClick() {
    // One upgrade at a time: the button is disabled while one runs, and a second "\U" on the
    // command line is ignored.
    if (UploadThread) return;
    // The previous worker may still be freeing its upgrader; the next one starts after it.
    lastWorker_.reset();

    lastWorker_ = std::make_unique<TUploadThread>(ctx_.op, [this] { RunOnWindowThread([this] { OnUploadDone(); }); });
    TUploadThread* thread = lastWorker_.get();
    UploadThread = thread;
    try {
        thread->Device = createUpgrader_(SelectedFamily(), ctx_);
    } catch (...) {
        // Reported like any failed run: the worker shows "Error".
    }

    SetTimerRunning(true);
    for (MainControl control : kProgressControls) SetControlShown(control, true);
    for (MainControl control : kUploadInputs) SetControlEnabled(control, false);

    thread->PackageFileName = FileName();
    thread->Start();
}

bool MainWindowLogic::FormClose() const { return UploadThread == nullptr; }

void MainWindowLogic::Timer1Timer() {
    if (!UploadThread || !UploadThread->Device) return;
    TUSBDevice& device = *UploadThread->Device;
    const int shown = SetBarPosition(ProgressBarPosition(device.GetTotalCount(), device.GetDoneCount()));
    SetControlText(MainControl::lFWProcessing, ProgressCaption(device.GetStageText(), shown));
}

void MainWindowLogic::OnUploadDone() {
    SetTimerRunning(false);
    for (MainControl control : kProgressControls) SetControlShown(control, false);
    for (MainControl control : kUploadInputs) SetControlEnabled(control, true);
    UploadThread = nullptr;
    if (CloseWhenDone) CloseForm();
    UploadFinished();
}

// ---------------------------------------------------------------------------------------------

int DeviceChoice::CheckedCount() const { return static_cast<int>(std::count(checks.begin(), checks.end(), true)); }

std::optional<std::vector<bool>> DeviceChoice::Answer(int modalResult) const {
    if (modalResult != kConfirmResult) return std::nullopt;
    return checks;
}

std::string ModuleTypeLabel(int slot) { return "Module " + std::to_string(slot + 1) + " cannot be detected!"; }

std::optional<int> ModuleTypeAnswer(int modalResult, int entryIndex) {
    if (modalResult != kConfirmResult || entryIndex < 0 || entryIndex >= static_cast<int>(kModuleTypes.size()))
        return std::nullopt;
    return kModuleTypes[static_cast<std::size_t>(entryIndex)].code;
}

}  // namespace rovenza
