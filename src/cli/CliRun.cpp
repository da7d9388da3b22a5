#include "CliRun.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <thread>

#include "CliOptions.h"
#include "ExitCodes.h"
#include "Inspect.h"
#include "ListTable.h"
#include "devices/Families.h"
#include "devices/USBDevice.h"
#include "devices/USBDevice2.h"
#include "frontend/Progress.h"
#include "usb/VELKUSB_Const.h"
#include "usb/VELKUSB_Enum.h"

namespace rovenza {

namespace {

// True when the dialog item's serial number is one of `select` (ASCII case ignored).
bool Selected(const std::vector<std::string>& select, const std::string& item) {
    const std::string serial = item.rfind(kSerialItemPrefix, 0) == 0 ? item.substr(kSerialItemPrefix.size()) : item;
    return std::any_of(select.begin(), select.end(),
                       [&](const std::string& s) { return AsciiUpper(s) == AsciiUpper(serial); });
}

// Answers the questions the window would ask from the command line's options.
class CliOperator final : public Operator {
public:
    CliOperator(const CliOptions& options, std::ostream& err) : options_(options), err_(err) {}

    std::optional<std::vector<bool>> chooseDevices(const std::vector<std::string>& items) override {
        if (!options_.select.empty()) {
            std::vector<bool> checks;
            for (const auto& item : items) checks.push_back(Selected(options_.select, item));
            return checks;
        }
        if (options_.deviceChoice.empty()) return std::vector<bool>(items.size(), true);
        std::vector<bool> checks = options_.deviceChoice;
        checks.resize(items.size(), false);
        return checks;
    }
    std::optional<int> chooseModuleType(int slot) override {
        if (slot >= 0 && slot < kModuleSlots && options_.slotModuleType[static_cast<std::size_t>(slot)])
            return options_.slotModuleType[static_cast<std::size_t>(slot)];
        return options_.moduleType;
    }
    void showMessage(const std::string& title, const std::string& text) override {
        err_ << (title.empty() ? std::string() : title + ": ") << text << '\n';
    }

private:
    const CliOptions& options_;
    std::ostream& err_;
};

// Runs the upgrade on a worker thread and reports progress on `err` while it runs.
std::string RunUpgrade(TUSBDevice& upgrader, std::ostream& err) {
    std::string message = std::string(kMsgError);
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread worker([&] {
        try {
            upgrader.Upgrade(message);
        } catch (...) {
            // The message keeps what the upgrader had set.
        }
        std::lock_guard lock(mutex);
        done = true;
        finished.notify_one();
    });
    ProgressLines progress;
    std::unique_lock lock(mutex);
    for (;;) {
        const bool over = finished.wait_for(lock, std::chrono::milliseconds(30), [&] { return done; });
        if (over) break;
        const int position = ProgressPosition(upgrader.GetTotalCount(), upgrader.GetDoneCount());
        if (const auto line = progress.next(upgrader.GetStageText(), position)) err << *line << '\n' << std::flush;
    }
    lock.unlock();
    worker.join();
    return message;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const CliParse parse = ParseCliArguments(args);
    if (parse.error) {
        err << "rovenza-cli: " << *parse.error << "\nTry 'rovenza-cli --help'.\n";
        return 2;
    }
    const CliOptions& options = parse.options;
    if (options.help) {
        out << CliUsage();
        return 0;
    }
    if (options.version) {
        out << "rovenza-cli " << ROVENZA_VERSION << '\n';
        return 0;
    }
    if (options.inspect) return RunInspect(*options.inspect, options.json, out);

    CliOperator op(options, err);
    std::unique_ptr<World> world;
    try {
        world = std::make_unique<World>(options.world, op);
    } catch (const std::exception& e) {
        err << "rovenza-cli: " << e.what() << '\n';
        return 2;
    }

    int status = 0;
    if (options.list) {
        const auto attached = ListAttached(world->context());
        if (options.json)
            out << InstrumentsJson(attached) << '\n';
        else
            WriteInstrumentTable(attached, out);
        if (attached.empty()) status = kExitNoInstrument;
    }
    // A first-generation upgrade sees the chosen instrument alone.
    const int generation = Family(static_cast<FamilyId>(options.family)).generation;
    Context chosen = world->context();
    if (generation == 1) chosen.firstGenerationSerials = options.select;
    if (options.upload && !options.select.empty()) {
        if (auto complaint = CheckSelection(ListAttached(world->context(), generation), generation, options.select)) {
            err << "rovenza-cli: " << *complaint << '\n';
            try {
                world->finish();
            } catch (const std::exception& e) {
                err << "rovenza-cli: " << e.what() << '\n';
            }
            return 2;
        }
    }
    if (options.upload) {
        auto upgrader = CreateUpgrader(options.family, chosen);
        upgrader->PackageFileName = options.packageFile;
        const std::string message = RunUpgrade(*upgrader, err);
        upgrader.reset();  // closes any handle still open before the bench is dumped
        out << message << '\n';
        status = message == kMsgSuccess ? 0 : 1;
    }
    try {
        world->finish();
    } catch (const std::exception& e) {
        err << "rovenza-cli: " << e.what() << '\n';
        if (status == 0) status = 1;
    }
    return status;
}

}  // namespace rovenza
