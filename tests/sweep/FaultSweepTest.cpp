// The fault sweep: for every family, a clean run on the bench learns how often each request
// comes; then one run per fault point — one request kind, one action that applies to it, one
// occurrence (first, second, evenly spaced, last, one past the last) — must end without a
// crash or a hang, with every handle closed, with one of the family's own final messages, and
// with "Firmware upgrade successful!" only when every memory the package writes holds the
// package's image and the instrument runs again. With several instruments attached, an
// instrument that was not chosen never changes and receives nothing but what the clean run
// sent it.
//
// The Sampled tests run a spread of the points in the default suite; the Full tests (label
// "sweep-full") run them all. A failing point prints its bench file on one line.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "devices/Families.h"
#include "devices/USBDevice.h"
#include "fwu/DemoPackage.h"
#include "sim/FaultPlan.h"
#include "sim/SimulatedBench.h"
#include "support/BenchFixture.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

using sim::FaultAction;
using sim::FaultRule;
using sim::FaultSide;
using sim::FamilyId;

constexpr std::int64_t kVirtualBoundUs = 4LL * 3600 * 1000 * 1000;  // no upgrade takes 4 hours
constexpr auto kWallBound = std::chrono::seconds(120);

// Every driver call and every sleep first checks the bench's virtual time: past the bound the
// run counts as hung, and every call fails from then on so that the upgrade comes back.
class BoundedPlatform final : public DriverPort, public Clock {
public:
    explicit BoundedPlatform(sim::SimulatedBench& bench) : bench_(bench) {}
    bool overran() const { return overran_; }

    Handle open(const std::string& path, std::uint32_t access, std::uint32_t share, std::uint32_t& error) override {
        if (late()) {
            error = 1167;
            return kInvalidHandle;
        }
        return bench_.driver().open(path, access, share, error);
    }
    bool ioControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                   std::uint32_t outSize, std::uint32_t& returned, std::uint32_t& error) override {
        if (late()) {
            error = 1167;
            return false;
        }
        return bench_.driver().ioControl(handle, code, in, inSize, out, outSize, returned, error);
    }
    void close(Handle handle) override { bench_.driver().close(handle); }
    void sleep(std::uint32_t ms) override {
        if (!late()) bench_.clock().sleep(ms);
    }
    std::int64_t counter() override {
        late();
        return bench_.clock().counter();
    }
    std::int64_t frequency() override { return bench_.clock().frequency(); }

private:
    bool late() {
        if (bench_.nowUs() > kVirtualBoundUs) overran_ = true;
        return overran_;
    }
    sim::SimulatedBench& bench_;
    bool overran_ = false;
};

// Answers the device dialog by serial number and remembers which items it checked.
class ChooseBySerial final : public Operator {
public:
    std::optional<std::vector<bool>> chooseDevices(const std::vector<std::string>& items) override {
        asked = true;
        listed = items;
        std::vector<bool> checks;
        for (const auto& item : items) {
            const bool check = std::any_of(serials.begin(), serials.end(), [&](const std::string& serial) {
                return item.size() >= serial.size() && item.compare(item.size() - serial.size(), serial.size(), serial) == 0;
            });
            checks.push_back(check);
            if (check) checked.push_back(item);
        }
        return checks;
    }
    std::optional<int> chooseModuleType(int) override { return std::nullopt; }
    void showMessage(const std::string&, const std::string&) override {}
    std::vector<std::string> serials;  // to check
    std::vector<std::string> checked;  // items checked
    std::vector<std::string> listed;   // the dialog's items
    bool asked = false;                // the dialog is shown for two or more instruments only
};

class NoDebug final : public DebugOutput {
public:
    void write(const std::string&) override {}
};

// One sweep: the instruments attached, which of them the run must upgrade, and the package.
struct Sweep {
    const char* name;
    FamilyId family;
    std::vector<sim::InstrumentSpec> instruments;
    std::vector<bool> chosen;  // the instruments the clean run upgrades
    std::size_t points = 2000;  // at least this many in the full sweep
    std::size_t sampled = 40;   // about this many in the suite
};
void PrintTo(const Sweep& sweep, std::ostream* os) { *os << sweep.name; }

// The package's images, as each kind of instrument must hold them after a successful run.
struct Images {
    std::vector<std::uint8_t> usbPic = DemoUsbPicImage(), fpga = DemoFpgaImage(), can = DemoCanImage(),
                              eeprom = DemoEepromImage(), flash = DemoFlashImage();
};

bool HoldsFrom(const std::vector<std::uint8_t>& memory, const std::vector<std::uint8_t>& image, std::size_t from) {
    return memory.size() >= image.size() && std::equal(image.begin() + static_cast<std::ptrdiff_t>(from), image.end(),
                                                       memory.begin() + static_cast<std::ptrdiff_t>(from));
}

// Whether the instrument holds the package of `family` and, for the first generation, runs it.
// (The FPGA's power switch after a verified flash is not looked at by the upgrade, so it is
// not part of success here either.)
bool Upgraded(sim::Instrument& instrument, FamilyId family, const Images& images) {
    if (auto* pic = dynamic_cast<sim::PicInstrument*>(&instrument)) {
        if (!instrument.present()) return false;
        if (pic->mode() != sim::PicMode::Firmware || !HoldsFrom(pic->program(), images.usbPic, 0x800)) return false;
        if (family == FamilyId::IrigClock) return pic->fpga() == images.fpga;
        if (family == FamilyId::Ulmo) return HoldsFrom(pic->can(), images.can, 0x600);
        return true;
    }
    auto& second = dynamic_cast<sim::SecondGenInstrument&>(instrument);
    if (family == FamilyId::Velkaro) {
        const auto& eeprom = second.eeprom();
        return std::equal(images.eeprom.begin(), images.eeprom.begin() + 0x1E00, eeprom.begin()) &&
               std::equal(images.eeprom.begin() + 0x1E14, images.eeprom.end(), eeprom.begin() + 0x1E14) &&
               second.flash().read(0, images.flash.size()) == images.flash;
    }
    for (const auto& module : second.bridge()->modules()) {
        if (!module || module->programming()) return false;
        const auto image = DemoModuleImage(module->typeCode());
        const auto& flash = module->flash();
        if (flash.size() < 0x600 + image.size() + 64 || !std::equal(image.begin(), image.end(), flash.begin() + 0x600))
            return false;
    }
    return true;
}

// A fingerprint of everything an instrument holds and shows.
std::uint64_t Fingerprint(const sim::Instrument& instrument) {
    std::uint64_t hash = 1469598103934665603ULL;
    auto mix = [&](const std::vector<std::uint8_t>& bytes) {
        for (const std::uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ULL;
        hash = (hash ^ bytes.size()) * 1099511628211ULL;
    };
    // (Not whether it is on the bus: a fault may take it away, which is not the run's doing.)
    mix(std::vector<std::uint8_t>{static_cast<std::uint8_t>(instrument.restarts())});
    if (const auto* pic = dynamic_cast<const sim::PicInstrument*>(&instrument)) {
        mix(std::vector<std::uint8_t>{static_cast<std::uint8_t>(pic->mode())});
        mix(pic->program());
        mix(pic->eeprom());
        mix(pic->fpga());
        mix(pic->can());
        return hash;
    }
    const auto& second = dynamic_cast<const sim::SecondGenInstrument&>(instrument);
    // (Its USB mode is not kept: listing the instruments sets it on every one of them.)
    mix(std::vector<std::uint8_t>{static_cast<std::uint8_t>(second.fpgaPower())});
    mix(second.eeprom());
    mix(second.flash().read(0, 0x40000));
    if (const auto& bridge = second.bridge())
        for (const auto& module : bridge->modules())
            if (module) {
                mix(std::vector<std::uint8_t>{static_cast<std::uint8_t>(module->programming())});
                mix(module->flash());
            }
    return hash;
}

// The final messages a run of `family` may end with.
bool OwnMessage(FamilyId family, const std::string& message) {
    static const std::regex trail("Error: (\n\r[^\n\r]+)*");
    static const std::regex modules("((Device [0-9]+/[0-9]+ - )?Module [1-8](, Module [1-8])* cannot be upgraded!\n?)+");
    if (message == kMsgSuccess || message == kMsgException || message == kMsgNotConnected || message == kMsgError)
        return true;
    if (family == FamilyId::Zenara) return std::regex_match(message, modules) && message.back() != '\n';
    if (family == FamilyId::Velkaro && (message == "Corrupted file" || message == "Error: FPGA Power Off")) return true;
    return std::regex_match(message, trail);
}

std::string Json(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) out += c == '"' ? std::string("\\\"") : std::string(1, c);
    return out + "\"";
}

// The bench file that repeats a point, on one line.
std::string Reproduction(const Sweep& sweep, std::size_t struck, const FaultRule& rule) {
    std::ostringstream out;
    out << "{ \"latencyUs\": 0, \"instruments\": [";
    for (std::size_t i = 0; i < sweep.instruments.size(); ++i) {
        const auto& instrument = sweep.instruments[i];
        out << (i ? ", " : " ") << "{ \"family\": " << Json(std::string(Family(instrument.family).listText))
            << ", \"serial\": " << Json(instrument.serial);
        if (instrument.family == FamilyId::Zenara) {
            out << ", \"modules\": [";
            for (std::size_t s = 0; s < instrument.modules.size(); ++s)
                out << (s ? ", " : "") << (instrument.modules[s] ? std::to_string(*instrument.modules[s]) : "null");
            out << "]";
        }
        if (i == struck) {
            out << ", \"faults\": [ { \"request\": " << Json(rule.request) << ", \"action\": "
                << Json(std::string(sim::ActionName(rule.action)));
            if (rule.occurrence) out << ", \"occurrence\": " << *rule.occurrence;
            if (rule.action == FaultAction::Fail) out << ", \"code\": " << rule.code;
            if (rule.on == FaultSide::Read) out << ", \"on\": \"read\"";
            if (rule.length) out << ", \"length\": " << *rule.length;
            if (rule.slot) out << ", \"slot\": " << *rule.slot;
            out << " } ]";
        }
        out << " }";
    }
    out << " ] }   (upgrade \"" << Family(sweep.family).listText << "\")";
    return out.str();
}

sim::BenchSpec SweepBench(const Sweep& sweep) {
    sim::BenchSpec setup;
    setup.latencyUs = 0;
    setup.instruments = sweep.instruments;
    for (auto& instrument : setup.instruments) instrument.i2cLatencyUs = 0;
    return setup;
}

struct Outcome {
    std::string message;
    bool overran = false;
    std::size_t openHandles = 0;
    std::vector<bool> upgraded;
    std::vector<std::uint64_t> fingerprints;
    std::vector<std::set<std::string>> received;  // request kinds each instrument was sent
    std::vector<std::map<std::string, std::uint32_t, std::less<>>> counts;
    std::vector<std::string> checked;  // the device dialog's checked items (second generation)
    std::vector<std::string> listed;
    bool asked = false;
};

Outcome RunOnce(const Sweep& sweep, const std::filesystem::path& folder, const std::string& package,
                std::optional<std::pair<std::size_t, FaultRule>> fault) {
    sim::BenchSpec setup = SweepBench(sweep);
    if (fault) setup.instruments[fault->first].faults = {fault->second};
    sim::SimulatedBench bench(setup, sim::RecorderSetup{.keep = false});
    BoundedPlatform platform(bench);
    ChooseBySerial op;
    for (std::size_t i = 0; i < sweep.instruments.size(); ++i)
        if (sweep.chosen[i]) op.serials.push_back(sweep.instruments[i].serial);
    NoDebug debug;
    Outcome outcome;
    {
        Context ctx{platform, bench.interfaces(), platform, debug, op, folder};
        auto upgrader = CreateUpgrader(static_cast<int>(sweep.family), ctx);
        upgrader->PackageFileName = package;
        outcome.message = "(no message)";
        try {
            upgrader->Upgrade(outcome.message);
        } catch (const std::exception& e) {
            outcome.message = std::string("(escaped: ") + e.what() + ")";
        }
    }
    outcome.overran = platform.overran();
    outcome.checked = op.checked;
    outcome.listed = op.listed;
    outcome.asked = op.asked;
    outcome.openHandles = bench.bench().openHandles();
    static const Images images;
    for (const auto& instrument : bench.bench().instruments()) {
        outcome.upgraded.push_back(Upgraded(*instrument, sweep.family, images));
        outcome.fingerprints.push_back(Fingerprint(*instrument));
        std::set<std::string> kinds;
        for (const auto& [key, n] : instrument->faults().counts()) kinds.insert(key);
        outcome.received.push_back(kinds);
        outcome.counts.push_back(instrument->faults().counts());
    }
    return outcome;
}

struct Variant {
    FaultAction action;
    FaultSide on = FaultSide::Write;
    std::uint32_t code = 31;
    std::optional<std::uint32_t> length{};
};

// Every action with the shapes that matter; the bench's own rule check keeps those that apply
// to a request.
const std::vector<Variant>& Variants() {
    static const std::vector<Variant> variants{
        {FaultAction::Fail},
        {FaultAction::Fail, FaultSide::Write, 1167},
        {FaultAction::Fail, FaultSide::Write, 9},
        {FaultAction::Fail, FaultSide::Read},
        {FaultAction::Timeout},
        {FaultAction::Timeout, FaultSide::Read},
        {FaultAction::Vanish},
        {FaultAction::Vanish, FaultSide::Read},
        {FaultAction::Corrupt},
        {FaultAction::Corrupt, FaultSide::Read},
        {FaultAction::Short},
        {FaultAction::Short, FaultSide::Write, 31, 0},
        {FaultAction::Never},
        {FaultAction::Busy},
        {FaultAction::BadChecksum},
        {FaultAction::BadChecksum, FaultSide::Write, 31, 2},
    };
    return variants;
}

bool IsModuleKey(const std::string& key) { return key.size() >= 4 && key.substr(0, 2) == "0x"; }

// The points of a sweep: every request kind each instrument received in the clean run, every
// variant that applies, and occurrences spread over the kind's count.
std::vector<std::pair<std::size_t, FaultRule>> Points(const Sweep& sweep, const Outcome& clean) {
    struct Kind {
        std::size_t instrument;
        FaultRule rule;
        std::uint32_t total;
    };
    std::vector<Kind> kinds;
    for (std::size_t i = 0; i < clean.counts.size(); ++i) {
        const bool second = sweep.instruments[i].family == FamilyId::Velkaro || sweep.instruments[i].family == FamilyId::Zenara;
        const bool slots = sweep.instruments[i].family == FamilyId::Zenara;
        for (const auto& [key, total] : clean.counts[i]) {
            FaultRule base;
            base.request = key;
            if (IsModuleKey(key)) {
                const auto at = key.find('@');
                if (at == std::string::npos) continue;  // module commands are struck per slot
                base.request = key.substr(0, at);
                base.slot = std::stoi(key.substr(at + 1));
            }
            // Requests that carry no command of this instrument (a read of a stale reply).
            if (base.request == "-") continue;
            for (const Variant& v : Variants()) {
                FaultRule rule = base;
                rule.action = v.action;
                rule.on = v.on;
                rule.code = v.code;
                rule.length = v.length;
                const auto refusal = second ? sim::CheckSecondGenerationRule(rule, slots) : sim::CheckFirstGenerationRule(rule);
                if (!refusal) kinds.push_back({i, rule, total});
            }
        }
    }
    // Occurrences spread over each kind's count, as densely as it takes to reach the number of
    // points the sweep asks for.
    std::vector<std::pair<std::size_t, FaultRule>> points;
    for (std::size_t spread = 4; points.size() < sweep.points && spread < 100000; spread = spread * 3 / 2) {
        points.clear();
        for (const Kind& kind : kinds) {
            std::set<std::uint32_t> occurrences{1, std::min<std::uint32_t>(2, kind.total), kind.total, kind.total + 1};
            for (std::size_t k = 1; k + 1 < spread; ++k)
                occurrences.insert(static_cast<std::uint32_t>(1 + (static_cast<std::uint64_t>(kind.total - 1) * k) / (spread - 1)));
            for (const std::uint32_t n : occurrences) {
                FaultRule rule = kind.rule;
                rule.occurrence = n;
                points.emplace_back(kind.instrument, rule);
            }
        }
    }
    // A sweep of many kinds gets more than it asked for even at four occurrences a kind: an even
    // spread of them then.
    if (points.size() > sweep.points * 3 / 2) {
        std::vector<std::pair<std::size_t, FaultRule>> spread;
        for (std::size_t i = 0; i < sweep.points; ++i) spread.push_back(points[i * points.size() / sweep.points]);
        points = std::move(spread);
    }
    return points;
}

// Watches one point in real time: past the bound it prints the point and ends the process,
// since a thread stuck in an upgrade cannot be stopped any other way.
class Watchdog {
public:
    Watchdog() : thread_([this] { watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_one();
        thread_.join();
    }
    void arm(std::string point) {
        std::lock_guard lock(mutex_);
        point_ = std::move(point);
        since_ = std::chrono::steady_clock::now();
        changed_.notify_one();
    }

private:
    void watch() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            changed_.wait_for(lock, std::chrono::seconds(1));
            if (!point_.empty() && std::chrono::steady_clock::now() - since_ > kWallBound) {
                std::cerr << "fault sweep: no end after " << kWallBound.count() << " s: " << point_ << std::endl;
                std::_Exit(3);
            }
        }
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;
    std::string point_;
    std::chrono::steady_clock::time_point since_;
    std::thread thread_;
};

sim::InstrumentSpec Zenara(const std::string& serial) {
    sim::InstrumentSpec zenara = BenchInstrument(FamilyId::Zenara, serial);
    zenara.modules = {1, 2, 3, 5, 6, 1, 2, 3};  // every 16 KiB type; BR's 32 KiB only doubles the work
    return zenara;
}

std::vector<Sweep> Sweeps() {
    const auto pc = [](const char* s) { return BenchInstrument(FamilyId::PowerController, s); };
    const auto tv = [](const char* s) { return BenchInstrument(FamilyId::Velkaro, s); };
    return {
        {"Vk101", FamilyId::PowerController, {pc("PC000001")}, {true}},
        {"IrigClock", FamilyId::IrigClock, {BenchInstrument(FamilyId::IrigClock, "IC000001")}, {true}},
        {"Ulmo", FamilyId::Ulmo, {BenchInstrument(FamilyId::Ulmo, "UL000001")}, {true}},
        {"Velkaro", FamilyId::Velkaro, {tv("TV000001")}, {true}},
        {"Zenara", FamilyId::Zenara, {Zenara("ZN000001")}, {true}, 2000, 6},
        // Several instruments: the first of two of the same family is the one upgraded; a mixed
        // bench leaves the other families alone; the second generation upgrades the chosen ones.
        {"TwoVk101", FamilyId::PowerController, {pc("PC000001"), pc("PC000002")}, {true, false}, 500},
        {"Vk101AmongOthers", FamilyId::PowerController,
         {BenchInstrument(FamilyId::IrigClock, "IC000001"), pc("PC000001"), BenchInstrument(FamilyId::Ulmo, "UL000001")},
         {false, true, false}, 500},
        {"ThreeVelkaroTwoChosen", FamilyId::Velkaro, {tv("TV000001"), tv("TV000002"), tv("TV000003")},
         {true, false, true}, 500},
        {"TwoZenara", FamilyId::Zenara, {Zenara("ZN000001"), Zenara("ZN000002")}, {true, true}, 200, 3},
    };
}

// What is wrong with a point's outcome, or nothing.
std::string Verdict(const Sweep& sweep, const Outcome& clean, const Outcome& untouched, const Outcome& o) {
    if (o.overran) return "no end in virtual time";
    if (o.openHandles != 0) return std::to_string(o.openHandles) + " handles left open";
    if (!OwnMessage(sweep.family, o.message)) return "not a message of the family";
    const bool success = o.message == kMsgSuccess;
    const bool firstGeneration = Family(sweep.family).generation == 1;
    std::vector<std::size_t> changed;
    for (std::size_t i = 0; i < sweep.instruments.size(); ++i)
        if (o.fingerprints[i] != untouched.fingerprints[i]) changed.push_back(i);
    for (std::size_t i = 0; i < sweep.instruments.size(); ++i) {
        const auto& serial = sweep.instruments[i].serial;
        // The first generation upgrades one instrument of the family, whichever it finds first;
        // the second generation those the dialog checked.
        const bool mayChange = firstGeneration ? sweep.instruments[i].family == sweep.family
                               : !o.asked || std::any_of(o.checked.begin(), o.checked.end(), [&](const auto& item) {
                                                     return item.find(serial) != std::string::npos;
                                                 });
        if (!mayChange) {
            if (o.fingerprints[i] != untouched.fingerprints[i]) return serial + " changed";
            for (const auto& kind : o.received[i])
                if (!clean.received[i].count(kind)) return serial + " received " + kind;
        } else if (success && !firstGeneration && !o.upgraded[i] && (o.asked || o.fingerprints[i] != untouched.fingerprints[i])) {
            // Without the dialog the one instrument listed is upgraded; one the walk missed
            // stays as it was.
            return serial + " was chosen and does not hold the package";
        }
    }
    if (firstGeneration && changed.size() > 1) return "more than one instrument changed";
    if (success && firstGeneration && (changed.size() != 1 || !o.upgraded[changed[0]]))
        return "success without an instrument that holds the package and runs it";
    if (success && !firstGeneration && std::none_of(o.upgraded.begin(), o.upgraded.end(), [](bool b) { return b; }))
        return "success without an instrument";
    return "";
}

class FaultSweep : public ::testing::TestWithParam<Sweep> {
protected:
    void Run(bool full) {
        const Sweep& sweep = GetParam();
        TempDir folder;
        const auto package = folder.path() / "package.fwu";
        static const std::map<FamilyId, std::string_view> demos{
            {FamilyId::PowerController, kDemoVk101}, {FamilyId::IrigClock, kDemoIrig}, {FamilyId::Ulmo, kDemoUlmo},
            {FamilyId::Velkaro, kDemoVelkaro}, {FamilyId::Zenara, kDemoZenara}};
        WriteFwu(package, *DemoPackageMembers(demos.at(sweep.family)));

        const Outcome clean = RunOnce(sweep, folder.path(), package.string(), std::nullopt);
        ASSERT_EQ(clean.message, kMsgSuccess);
        for (std::size_t i = 0; i < sweep.chosen.size(); ++i) ASSERT_EQ(clean.upgraded[i], sweep.chosen[i]) << i;
        const Outcome untouched = [&] {
            sim::SimulatedBench bench(SweepBench(sweep));
            Outcome o;
            for (const auto& instrument : bench.bench().instruments()) o.fingerprints.push_back(Fingerprint(*instrument));
            return o;
        }();

        auto points = Points(sweep, clean);
        const std::size_t all = points.size();
        // ROVENZA_SWEEP_SHARD=k/n runs every n-th point from the k-th, so that a long sweep
        // shares the cores.
        if (const char* shard = std::getenv("ROVENZA_SWEEP_SHARD"); shard && full) {
            const std::size_t k = std::strtoul(shard, nullptr, 10);
            const std::size_t n = std::max<std::size_t>(1, std::strtoul(std::strchr(shard, '/') ? std::strchr(shard, '/') + 1 : "1", nullptr, 10));
            std::vector<std::pair<std::size_t, FaultRule>> mine;
            for (std::size_t i = k; i < points.size(); i += n) mine.push_back(points[i]);
            points = std::move(mine);
        }
        if (!full) {
            std::vector<std::pair<std::size_t, FaultRule>> sample;
            const std::size_t stride = std::max<std::size_t>(1, all / sweep.sampled);
            for (std::size_t i = 0; i < all; i += stride) sample.push_back(points[i]);
            points = std::move(sample);
        }
        std::map<std::string, std::size_t> classes;
        Watchdog watchdog;
        const auto start = std::chrono::steady_clock::now();
        for (const auto& [struck, rule] : points) {
            const std::string repro = Reproduction(sweep, struck, rule);
            watchdog.arm(repro);
            const Outcome o = RunOnce(sweep, folder.path(), package.string(), std::pair(struck, rule));
            ++classes[o.message == kMsgSuccess ? "success" : o.message.substr(0, std::min<std::size_t>(o.message.find('\n'), 40))];
            std::string why = Verdict(sweep, clean, untouched, o);
            EXPECT_EQ(why, "") << "message " << ::testing::PrintToString(o.message) << ", dialog "
                               << ::testing::PrintToString(o.listed) << "\n  " << repro;
            if (::testing::Test::HasFailure() && !full) break;
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::cout << sweep.name << ": " << points.size() << " of " << all << " points in " << seconds << " s\n";
        for (const auto& [text, n] : classes) std::cout << "  " << n << "\t" << ::testing::PrintToString(text) << "\n";
    }
};

TEST_P(FaultSweep, Sampled) { Run(false); }
TEST_P(FaultSweep, Full) { Run(true); }

INSTANTIATE_TEST_SUITE_P(Families, FaultSweep, ::testing::ValuesIn(Sweeps()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rovenza
