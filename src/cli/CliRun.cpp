#include "CliRun.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <thread>

#include "CliOptions.h"
#include "devices/Families.h"
#include "devices/USBDevice.h"
#include "frontend/Progress.h"
#include "usb/VELKUSB_Const.h"
#include "usb/VELKUSB_Enum.h"

namespace rovenza {

namespace {

// Answers the questions the window would ask from the command line's options.
class CliOperator final : public Operator {
public:
    CliOperator(const CliOptions& options, std::ostream& err) : options_(options), err_(err) {}

    std::optional<std::vector<bool>> chooseDevices(const std::vector<std::string>& items) override {
        if (options_.deviceChoice.empty()) return std::vector<bool>(items.size(), true);
        std::vector<bool> checks = options_.deviceChoice;
        checks.resize(items.size(), false);
        return checks;
    }
    std::optional<int> chooseModuleType(int) override { return options_.moduleType; }
    void showMessage(const std::string& title, const std::string& text) override {
        err_ << (title.empty() ? std::string() : title + ": ") << text << '\n';
    }

private:
    const CliOptions& options_;
    std::ostream& err_;
};

void ListInstruments(const Context& ctx, std::ostream& out) {
    auto list = [&](const InterfaceClassGuid& cls) {
        std::vector<DeviceInterfaceEntry> entries;
        if (!ctx.interfaces.enumerate(cls, entries)) return;
        for (const auto& entry : entries) {
            std::string pid;
            if (!ExtractPid(entry.path, pid)) pid = "-";
            const bool firstGeneration = cls == kFirstGenerationClass;
            const char* mode = !firstGeneration ? "second generation"
                               : pid == kPidBootLoader ? "bootloader"
                                                        : "firmware";
            out << entry.path << '\t' << pid << '\t' << mode << '\n';
        }
    };
    list(kFirstGenerationClass);
    list(kSecondGenerationClass);
}

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
    std::string lastCaption;
    std::unique_lock lock(mutex);
    for (;;) {
        const bool over = finished.wait_for(lock, std::chrono::milliseconds(30), [&] { return done; });
        if (over) break;
        const int position = ProgressPosition(upgrader.GetTotalCount(), upgrader.GetDoneCount());
        const std::string caption = ProgressCaption(upgrader.GetStageText(), position);
        if (!caption.empty() && caption != lastCaption) {
            err << caption << '\n' << std::flush;
            lastCaption = caption;
        }
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
        out << ROVENZA_VERSION << '\n';
        return 0;
    }

    CliOperator op(options, err);
    std::unique_ptr<World> world;
    try {
        world = std::make_unique<World>(options.world, op);
    } catch (const std::exception& e) {
        err << "rovenza-cli: " << e.what() << '\n';
        return 2;
    }

    int status = 0;
    if (options.list) ListInstruments(world->context(), out);
    if (options.upload) {
        auto upgrader = CreateUpgrader(options.family, world->context());
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
