#include "CliRun.h"

#include <algorithm>
#include <ostream>

#include "CliOptions.h"
#include "CliUpgrade.h"
#include "ExitCodes.h"
#include "Inspect.h"
#include "ListTable.h"
#include "devices/Families.h"
#include "devices/USBDevice.h"
#include "devices/USBDevice2.h"
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
    CliOperator(const CliOptions& options, CliNotes& notes) : options_(options), notes_(notes) {}

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
    void showMessage(const std::string& title, const std::string& text) override { notes_.messageBox(title, text); }

private:
    const CliOptions& options_;
    CliNotes& notes_;
};

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const CliEnvironment& environment) {
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

    CliNotes notes;
    CliOperator op(options, notes);
    const auto reporter = MakeReporter(options, out, err, {environment.terminal, environment.width});
    std::unique_ptr<World> world;
    try {
        world = std::make_unique<World>(options.world, op, WorldHooks{&notes, environment.interrupt});
    } catch (const LocalFault& e) {
        reporter->result({"", {kExitLocalFault, ExitKindName(kExitLocalFault)}, std::nullopt, e.what()});
        return kExitLocalFault;
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
    const int generation = Family(static_cast<FamilyId>(options.family)).generation;
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
    if (options.upload) return RunCliUpgrade(options, *world, notes, *reporter, environment.interrupt);
    notes.passOn(*reporter);
    try {
        world->finish();
    } catch (const std::exception& e) {
        err << "rovenza-cli: " << e.what() << '\n';
        if (status == 0) status = kExitLocalFault;
    }
    return status;
}

}  // namespace rovenza
