#include "BenchFile.h"

#include "sim/Instrument.h"
#include "sim/ModuleBridge.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <set>
#include <sstream>

namespace rovenza::sim {

namespace {

using nlohmann::json;

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

class Parser {
public:
    Parser(std::string origin, std::filesystem::path folder) : origin_(std::move(origin)), folder_(std::move(folder)) {}

    [[noreturn]] void error(const std::string& field, const std::string& what) const {
        throw BenchFileError(origin_ + ": " + field + ": " + what);
    }

    void checkKeys(const json& object, const std::string& field, std::initializer_list<std::string_view> known) const {
        if (!object.is_object()) error(field, "must be an object");
        for (const auto& [key, value] : object.items()) {
            if (!key.empty() && key[0] == '_') continue;
            if (std::find(known.begin(), known.end(), key) == known.end())
                error(field.empty() ? key : field + "." + key, "unknown field");
        }
    }

    std::string text(const json& value, const std::string& field) const {
        if (!value.is_string()) error(field, "must be a text");
        return value.get<std::string>();
    }

    std::uint32_t number(const json& value, const std::string& field, std::uint32_t min = 0) const {
        if (!value.is_number_integer() || value.get<std::int64_t>() < min ||
            value.get<std::int64_t>() > std::numeric_limits<std::uint32_t>::max())
            error(field, "must be a whole number from " + std::to_string(min) + " to 4294967295");
        return static_cast<std::uint32_t>(value.get<std::int64_t>());
    }

    bool flag(const json& value, const std::string& field) const {
        if (!value.is_boolean()) error(field, "must be true or false");
        return value.get<bool>();
    }

    // The size a memory's file must have (0: any size up to the configuration flash's), or
    // nothing when the instrument has no such memory.
    static std::optional<std::uint32_t> MemorySize(const InstrumentSpec& setup, const std::string& name) {
        const int generation = ModelOf(setup.family).generation;
        if (name == "program" && generation == 1) return kProgramSize;
        if (name == "eeprom") return generation == 1 ? kEepromSize : kEeprom2Size;
        if (name == "can" && setup.family == FamilyId::Ulmo) return kCanFlashSize;
        if (name == "fpga" && (setup.family == FamilyId::IrigClock || generation == 2)) return 0;
        for (int slot = 0; slot < kModuleSlots; ++slot)
            if (name == "module" + std::to_string(slot + 1) && setup.modules[static_cast<std::size_t>(slot)])
                return ModuleFlashSize(*setup.modules[static_cast<std::size_t>(slot)]);
        return std::nullopt;
    }

    void memories(const json& value, const std::string& field, InstrumentSpec& setup) const {
        if (!value.is_object()) error(field, "must be an object");
        for (const auto& [name, file] : value.items()) {
            if (!name.empty() && name[0] == '_') continue;
            const std::string at = field + "." + name;
            const std::optional<std::uint32_t> size = MemorySize(setup, name);
            if (!size) error(at, "not a memory of this instrument");
            const std::string fileName = text(file, at);
            std::ifstream in(folder_ / fileName, std::ios::binary);
            std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            if (!in.is_open() || in.bad()) error(at, "\"" + fileName + "\" cannot be read");
            if (*size != 0 && bytes.size() != *size)
                error(at, "\"" + fileName + "\" must hold " + std::to_string(*size) + " bytes, not " +
                              std::to_string(bytes.size()));
            if (bytes.size() > kConfigFlashSize)
                error(at, "\"" + fileName + "\" holds more than " + std::to_string(kConfigFlashSize) + " bytes");
            setup.memories[name] = std::move(bytes);
            setup.memoryFiles[name] = fileName;
        }
    }

    FamilyId family(const json& value, const std::string& field) const {
        const std::string name = text(value, field);
        for (const auto& model : kFamilyModels)
            if (EqualsIgnoreCase(name, model.listText)) return model.id;
        error(field, "unknown family \"" + name + "\"");
    }

    std::string serial(const json& value, const std::string& field) const {
        const std::string s = text(value, field);
        const bool allowed = std::all_of(s.begin(), s.end(), [](char c) {
            return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        });
        if (s.empty() || s.size() > 8 || !allowed) error(field, "must be 1 to 8 letters, digits, '-' or '_'");
        return s;
    }

    FaultRule fault(const json& value, const std::string& field, FamilyId family) const {
        const int generation = ModelOf(family).generation;
        checkKeys(value, field, {"request", "occurrence", "action", "code", "on", "length", "slot", "byte"});
        FaultRule rule;
        if (!value.contains("request")) error(field + ".request", "missing");
        const json& request = value["request"];
        if (request.is_number_integer() && generation == 2) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%02X", number(request, field + ".request"));
            rule.request = code;
        } else {
            rule.request = text(request, field + ".request");
            // A module command code: "0xa7" names the same command as "0xA7".
            if (rule.request.size() == 4 && rule.request.starts_with("0x"))
                for (std::size_t i = 2; i < 4; ++i)
                    if (rule.request[i] >= 'a' && rule.request[i] <= 'f') rule.request[i] = static_cast<char>(rule.request[i] - 'a' + 'A');
        }
        if (value.contains("occurrence")) rule.occurrence = number(value["occurrence"], field + ".occurrence", 1);
        if (!value.contains("action")) error(field + ".action", "missing");
        const std::string action = text(value["action"], field + ".action");
        const auto parsed = ParseFaultAction(action);
        if (!parsed) error(field + ".action", "unknown action \"" + action + "\"");
        rule.action = *parsed;
        if (value.contains("code")) rule.code = number(value["code"], field + ".code");
        if (value.contains("on")) {
            const std::string on = text(value["on"], field + ".on");
            if (on != "write" && on != "read") error(field + ".on", "must be \"write\" or \"read\"");
            rule.on = on == "read" ? FaultSide::Read : FaultSide::Write;
        }
        if (value.contains("length")) rule.length = number(value["length"], field + ".length");
        if (value.contains("byte")) rule.byte = number(value["byte"], field + ".byte");
        if (value.contains("slot")) {
            const std::uint32_t slot = number(value["slot"], field + ".slot");
            if (slot < 1 || slot > kModuleSlots) error(field + ".slot", "must be from 1 to 8");
            rule.slot = static_cast<int>(slot);
        }
        const auto problem = generation == 1 ? CheckFirstGenerationRule(rule)
                                             : CheckSecondGenerationRule(rule, family == FamilyId::Zenara);
        if (problem) error(field, *problem);
        return rule;
    }

    std::optional<int> module(const json& value, const std::string& field) const {
        if (value.is_null()) return std::nullopt;
        if (value.is_number_integer()) {
            const std::uint32_t code = number(value, field);
            if (code > 255) error(field, "a raw module type code must be from 0 to 255");
            return static_cast<int>(code);
        }
        const std::string name = text(value, field);
        for (const auto& type : kModuleTypes)
            if (EqualsIgnoreCase(name, type.name)) return type.code;
        error(field, "unknown module type \"" + name + "\"");
    }

    InstrumentSpec instrument(const json& value, const std::string& field) const {
        checkKeys(value, field, {"family", "serial", "mode", "faults", "modules", "restartMs", "bootResetMs",
                                 "fpgaResetMs", "prmdMs", "eraseMs", "name", "arrivesMs", "i2cLatencyUs", "slotMask",
                                 "present", "fpgaPower", "memories"});
        InstrumentSpec setup;
        if (!value.contains("family")) error(field + ".family", "missing");
        setup.family = family(value["family"], field + ".family");
        const int generation = ModelOf(setup.family).generation;
        if (!value.contains("serial")) error(field + ".serial", "missing");
        setup.serial = serial(value["serial"], field + ".serial");
        if (value.contains("mode")) {
            const std::string mode = text(value["mode"], field + ".mode");
            if (mode == "bootloader" && generation == 1)
                setup.bootLoader = true;
            else if (mode != "firmware")
                error(field + ".mode", generation == 1 ? "must be \"firmware\" or \"bootloader\"" : "must be \"firmware\"");
        }
        if (value.contains("faults")) {
            const json& faults = value["faults"];
            if (!faults.is_array()) error(field + ".faults", "must be a list");
            for (std::size_t i = 0; i < faults.size(); ++i)
                setup.faults.push_back(fault(faults[i], field + ".faults[" + std::to_string(i) + "]", setup.family));
        }
        if (value.contains("modules")) {
            const json& modules = value["modules"];
            if (setup.family != FamilyId::Zenara) error(field + ".modules", "only a Zenara instrument has module slots");
            if (!modules.is_array() || modules.size() > kModuleSlots) error(field + ".modules", "must be a list of up to 8 slots");
            for (std::size_t i = 0; i < modules.size(); ++i)
                setup.modules[i] = module(modules[i], field + ".modules[" + std::to_string(i) + "]");
        }
        if (value.contains("restartMs")) setup.restartMs = number(value["restartMs"], field + ".restartMs");
        if (value.contains("bootResetMs")) setup.bootResetMs = number(value["bootResetMs"], field + ".bootResetMs");
        if (value.contains("fpgaResetMs")) setup.fpgaResetMs = number(value["fpgaResetMs"], field + ".fpgaResetMs");
        if (value.contains("prmdMs")) setup.prmdMs = number(value["prmdMs"], field + ".prmdMs");
        if (value.contains("eraseMs")) setup.eraseMs = number(value["eraseMs"], field + ".eraseMs");
        for (const char* key : {"i2cLatencyUs", "slotMask"})
            if (value.contains(key) && setup.family != FamilyId::Zenara)
                error(field + "." + key, "only a Zenara instrument has the module bridge");
        if (value.contains("i2cLatencyUs")) setup.i2cLatencyUs = number(value["i2cLatencyUs"], field + ".i2cLatencyUs");
        if (value.contains("slotMask")) {
            const std::uint32_t mask = number(value["slotMask"], field + ".slotMask");
            if (mask > 0xFF) error(field + ".slotMask", "must be from 0 to 255");
            setup.slotMask = static_cast<std::uint8_t>(mask);
        }
        if (value.contains("arrivesMs")) setup.arrivesMs = number(value["arrivesMs"], field + ".arrivesMs");
        if (value.contains("present")) setup.present = flag(value["present"], field + ".present");
        if (value.contains("fpgaPower")) {
            if (generation != 2) error(field + ".fpgaPower", "only a second-generation instrument has the FPGA switch");
            setup.fpgaPower = flag(value["fpgaPower"], field + ".fpgaPower");
        }
        if (value.contains("memories")) memories(value["memories"], field + ".memories", setup);
        if (value.contains("name")) {
            setup.name = text(value["name"], field + ".name");
            if (setup.name->size() > 60) error(field + ".name", "at most 60 characters");
        }
        return setup;
    }

    BenchSpec bench(const json& root, std::string_view defaultClock) const {
        checkKeys(root, "", {"clock", "instruments", "latencyUs"});
        BenchSpec setup;
        setup.clock = std::string(defaultClock);
        if (root.contains("clock")) setup.clock = text(root["clock"], "clock");
        if (setup.clock != "virtual" && setup.clock != "real") error("clock", "must be \"virtual\" or \"real\"");
        if (root.contains("latencyUs")) setup.latencyUs = number(root["latencyUs"], "latencyUs");
        if (root.contains("instruments")) {
            const json& list = root["instruments"];
            if (!list.is_array()) error("instruments", "must be a list");
            std::set<std::string> serials;
            for (std::size_t i = 0; i < list.size(); ++i) {
                const std::string field = "instruments[" + std::to_string(i) + "]";
                setup.instruments.push_back(instrument(list[i], field));
                if (!serials.insert(setup.instruments.back().serial).second)
                    error(field + ".serial", "\"" + setup.instruments.back().serial + "\" is already used");
            }
        }
        return setup;
    }

private:
    std::string origin_;
    std::filesystem::path folder_;  // memory files are named relative to it
};

}  // namespace

BenchSpec ParseBench(std::string_view text, std::string_view defaultClock, const std::string& origin,
                     const std::filesystem::path& folder) {
    json root;
    try {
        root = json::parse(text.begin(), text.end());
    } catch (const json::exception& e) {  // a syntax error, or a number too large for a double
        throw BenchFileError(origin + ": not valid JSON: " + e.what());
    }
    if (!root.is_object()) throw BenchFileError(origin + ": must hold one JSON object");
    return Parser(origin, folder).bench(root, defaultClock);
}

BenchSpec LoadBenchFile(const std::filesystem::path& file, std::string_view defaultClock) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw BenchFileError(file.string() + ": cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw BenchFileError(file.string() + ": cannot be read");
    return ParseBench(text.str(), defaultClock, file.string(), file.parent_path());
}

std::string BenchFileText(const BenchSpec& setup) {
    nlohmann::ordered_json root;
    root["_comment"] = "The bench as a run left it; memories are files beside this one.";
    if (setup.latencyUs != kDefaultLatencyUs) root["latencyUs"] = setup.latencyUs;
    root["instruments"] = nlohmann::ordered_json::array();
    for (const InstrumentSpec& instrument : setup.instruments) {
        nlohmann::ordered_json entry;
        const FamilyModel& model = ModelOf(instrument.family);
        entry["family"] = model.listText;
        entry["serial"] = instrument.serial;
        entry["mode"] = instrument.bootLoader ? "bootloader" : "firmware";
        if (!instrument.present) entry["present"] = false;
        if (model.generation == 2 && !instrument.fpgaPower) entry["fpgaPower"] = false;
        if (instrument.family == FamilyId::Zenara) {
            auto& modules = entry["modules"] = nlohmann::ordered_json::array();
            for (const auto& code : instrument.modules) {
                const ModuleTypeEntry* type = code ? FindModuleType(*code) : nullptr;
                modules.push_back(type ? nlohmann::ordered_json(type->name)
                                       : code ? nlohmann::ordered_json(*code) : nlohmann::ordered_json());
            }
            if (instrument.i2cLatencyUs != kDefaultI2cLatencyUs) entry["i2cLatencyUs"] = instrument.i2cLatencyUs;
            if (instrument.slotMask != 0) entry["slotMask"] = instrument.slotMask;
        }
        if (instrument.restartMs != kDefaultRestartMs) entry["restartMs"] = instrument.restartMs;
        if (instrument.bootResetMs != kDefaultBootResetMs) entry["bootResetMs"] = instrument.bootResetMs;
        if (instrument.fpgaResetMs != kDefaultFpgaResetMs) entry["fpgaResetMs"] = instrument.fpgaResetMs;
        if (instrument.prmdMs != kDefaultPrmdMs) entry["prmdMs"] = instrument.prmdMs;
        if (instrument.eraseMs != kDefaultEraseMs) entry["eraseMs"] = instrument.eraseMs;
        if (instrument.name) entry["name"] = *instrument.name;
        if (instrument.arrivesMs) entry["arrivesMs"] = *instrument.arrivesMs;
        if (!instrument.memoryFiles.empty()) {
            auto& memories = entry["memories"] = nlohmann::ordered_json::object();
            for (std::string_view name : kMemoryNames)
                if (const auto file = instrument.memoryFiles.find(std::string(name)); file != instrument.memoryFiles.end())
                    memories[std::string(name)] = file->second;
        }
        root["instruments"].push_back(std::move(entry));
    }
    return root.dump(2) + "\n";
}

BenchSpec DefaultBench() {
    BenchSpec setup;
    auto add = [&setup](FamilyId family, const char* serial) {
        InstrumentSpec instrument;
        instrument.family = family;
        instrument.serial = serial;
        setup.instruments.push_back(std::move(instrument));
        return &setup.instruments.back();
    };
    // The power controller comes first: it is the one the fixed device path reaches.
    add(FamilyId::PowerController, "PC000001");
    add(FamilyId::IrigClock, "IC000001");
    add(FamilyId::Ulmo, "UL000001");
    add(FamilyId::Velkaro, "TV000001");
    InstrumentSpec* zenara = add(FamilyId::Zenara, "ZN000001");
    zenara->modules = {1, 2, 3, 4, 5, 6, std::nullopt, std::nullopt};
    return setup;
}

}  // namespace rovenza::sim
