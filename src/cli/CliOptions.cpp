#include "CliOptions.h"

#include <algorithm>

#include "devices/Families.h"
#include "devices/USBDevice2.h"

namespace rovenza {

namespace {

// "BR", "iepe cnt" or "4": the code of a module type of the dialog's list.
std::optional<int> ParseModuleType(const std::string& text) {
    for (const auto& type : kModuleTypes)
        if (AsciiUpper(text) == AsciiUpper(std::string(type.name))) return type.code;
    if (text.size() == 1 && FindModuleType(text[0] - '0')) return text[0] - '0';
    return std::nullopt;
}

// Takes one --module-type value into the options; returns the complaint, or nothing.
std::optional<std::string> TakeModuleType(const std::string& value, CliOptions& o) {
    std::optional<int>* target = &o.moduleType;
    std::string type = value;
    if (const std::size_t equals = value.find('='); equals != std::string::npos) {
        const std::string slot = value.substr(0, equals);
        if (slot.size() != 1 || slot[0] < '1' || slot[0] - '0' > kModuleSlots)
            return "--module-type: slot \"" + slot + "\" is not one of 1 to " + std::to_string(kModuleSlots);
        target = &o.slotModuleType[static_cast<std::size_t>(slot[0] - '1')];
        type = value.substr(equals + 1);
    }
    const std::optional<int> code = ParseModuleType(type);
    if (!code) {
        std::string names;
        for (const auto& known : kModuleTypes) names += (names.empty() ? "" : ", ") + std::string(known.name);
        return "--module-type: \"" + type + "\" is not a module type (" + names + ", or a code 1 to " +
               std::to_string(kModuleTypes.size()) + ")";
    }
    if (*target && **target != *code) return "--module-type: \"" + value + "\" contradicts an earlier one";
    *target = code;
    return std::nullopt;
}

}  // namespace

std::string CliUsage() {
    std::string text =
        "Usage: rovenza-cli [options] [\\D FAMILY] [\\F PACKAGE] [\\U] [\\C]\n"
        "Writes a firmware package (.fwu) into an attached instrument.\n\n"
        "  \\D FAMILY, --device FAMILY   instrument family (default \"IRIG Clock\"):\n";
    for (const auto& family : kFamilies) text += "                                \"" + std::string(family.listText) + "\"\n";
    text +=
        "  \\F PACKAGE, --file PACKAGE   the firmware package\n"
        "  \\U, --upload                 run the upgrade\n"
        "  \\C                           accepted for the window's sake; the command line always ends\n"
        "  --select SERIAL[,SERIAL...]   upgrade the instruments of these serial numbers, as --list\n"
        "                                shows them (default: all attached; one serial number for a\n"
        "                                first-generation family)\n"
        "  --choose LIST                 when several instruments are attached: a comma-separated\n"
        "                                list of 1 and 0, one per instrument (default: all)\n"
        "  --parallel                    \"Velkaro USB\" only: upgrade the chosen instruments at once,\n"
        "                                each on a thread of its own, with a progress line for each;\n"
        "                                a failure on one leaves the others to finish (default: one\n"
        "                                after another, as the window does)\n"
        "  --module-type [SLOT=]TYPE     the type of a module that cannot tell its own, as the\n"
        "                                module type dialog would be answered: TYPE a name of its\n"
        "                                list (IEPE, MULTIMP, HV, BR, \"IEPE CNT\", LV) or a code\n"
        "                                1 to 6; SLOT 1 to 8, or none for every slot (repeatable)\n"
        "  --list                        list the attached instruments (exit status 4 when none)\n"
        "  --inspect PACKAGE             show what an upgrade would find in PACKAGE, opening no\n"
        "                                instrument (exit status 0 when it fits a family, 3 when it\n"
        "                                cannot be read, 5 when it fits none)\n"
        "  --json                        --list and --inspect in JSON\n"
        "  --simulate[=BENCH]            use the simulated instrument bench (BENCH: a bench file)\n"
        "  --bench-dump DIR              write the bench's request log and memories to DIR at the end\n"
        "  --speed N                     on the virtual-time bench, let N seconds of protocol waits\n"
        "                                take one real second, to follow the progress\n"
        "  --program-folder DIR          the folder whose Temp (work) and FWUs folders are used\n"
        "                                (default: the program's own folder when it may write there,\n"
        "                                else per-user folders; see rovenza-cli(1))\n"
        "  --trace FILE                  write the command trace of the instrument conversation to\n"
        "                                FILE (also: environment variable ROVENZA_TRACE)\n"
        "  --json                        standard output becomes a stream of JSON objects, one a line\n"
        "  -q, --quiet                   print only the final message\n"
        "  -v, --verbose                 print the diagnostics as well\n"
        "  --help, --version\n\n"
        "Progress goes to standard error: one line redrawn in place on a terminal, else a line per\n"
        "stage and per 10 %. The final message goes to standard output, then on standard error the\n"
        "reason for it. Ctrl-C stops the upgrade at its next safe point; a second Ctrl-C at once.\n\n"
        "Exit status:\n"
        "  0  the upgrade succeeded\n"
        "  1  a result none of the kinds below covers\n"
        "  2  bad usage\n"
        "  3  the package is missing, unreadable or refused (\"The FWU file does not exist.\",\n"
        "     \"Corrupted file\", or an image in it that cannot be read)\n"
        "  4  no instrument (\"Instrument is not connected.\")\n"
        "  5  the package is for another family (\"Instrument or FWU file is not ...!\")\n"
        "  6  the conversation with the instrument failed (\"Error...\", \"... cannot be upgraded!\")\n"
        "  7  interrupted (Ctrl-C); the final line is \"Interrupted\"\n"
        "  8  a local file could not be written (command trace, bench dump); a failed upgrade keeps\n"
        "     its own status\n";
    return text;
}

CliParse ParseCliArguments(const std::vector<std::string>& argsIn) {
    CliParse parse;
    CliOptions& o = parse.options;
    std::vector<std::string> args = argsIn;
    if (auto error = TakeWorldOptions(args, o.world)) {
        parse.error = *error;
        return parse;
    }
    auto family = [&](const std::string& name) {
        const int position = FindFamily(name);
        if (position < 0) {
            std::string names;
            for (const auto& known : kFamilies) names += (names.empty() ? "\"" : ", \"") + std::string(known.listText) + "\"";
            parse.error = "unknown instrument family \"" + name + "\" (one of " + names + ")";
            return;
        }
        o.family = position;
    };
    for (std::size_t i = 0; i < args.size() && !parse.error; ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "\\D" || arg == "--device") {
            if (!hasValue) {
                parse.error = arg + " needs a family name";
                break;
            }
            family(args[++i]);
        } else if (arg.rfind("--device=", 0) == 0) {
            family(arg.substr(9));
        } else if (arg == "\\F" || arg == "--file") {
            if (!hasValue) {
                parse.error = arg + " needs a package file";
                break;
            }
            o.packageFile = args[++i];
        } else if (arg.rfind("--file=", 0) == 0) {
            o.packageFile = arg.substr(7);
        } else if (arg == "\\U" || arg == "--upload") {
            o.upload = true;
        } else if (arg == "\\C") {
            // The command line ends when the upgrade ends anyway.
        } else if (arg == "--choose") {
            if (!hasValue) {
                parse.error = "--choose needs a value, such as 1,0,1";
                break;
            }
            const std::string& list = args[++i];
            for (std::size_t p = 0; p < list.size(); ++p) {
                if (list[p] == '1')
                    o.deviceChoice.push_back(true);
                else if (list[p] == '0')
                    o.deviceChoice.push_back(false);
                else if (list[p] != ',') {
                    parse.error = "--choose takes a list of 1 and 0, such as 1,0,1";
                    break;
                }
            }
        } else if (arg == "--select" || arg.rfind("--select=", 0) == 0) {
            std::string list;
            if (arg == "--select") {
                if (!hasValue) {
                    parse.error = "--select needs a serial number";
                    break;
                }
                list = args[++i];
            } else {
                list = arg.substr(9);
            }
            for (std::size_t start = 0; start <= list.size();) {
                const std::size_t comma = std::min(list.find(',', start), list.size());
                std::string serial = list.substr(start, comma - start);
                if (serial.rfind(kSerialItemPrefix, 0) == 0) serial.erase(0, kSerialItemPrefix.size());
                if (serial.empty()) {
                    parse.error = "--select takes serial numbers separated by commas, such as PC000001,1234";
                    break;
                }
                o.select.push_back(serial);
                start = comma + 1;
            }
        } else if (arg == "--module-type" || arg.rfind("--module-type=", 0) == 0) {
            if (arg == "--module-type" && !hasValue) {
                parse.error = "--module-type needs a module type, such as BR or 3=IEPE";
                break;
            }
            parse.error = TakeModuleType(arg == "--module-type" ? args[++i] : arg.substr(14), o);
        } else if (arg == "--parallel") {
            o.parallel = true;
        } else if (arg == "--json") {
            o.json = true;
        } else if (arg == "--quiet" || arg == "-q") {
            o.quiet = true;
        } else if (arg == "--verbose" || arg == "-v") {
            o.verbose = true;
        } else if (arg == "--inspect" || arg.rfind("--inspect=", 0) == 0) {
            if (arg == "--inspect" && !hasValue) {
                parse.error = "--inspect needs a package file";
                break;
            }
            o.inspect = arg == "--inspect" ? args[++i] : arg.substr(10);
        } else if (arg == "--list") {
            o.list = true;
        } else if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--version") {
            o.version = true;
        } else {
            parse.error = "unknown argument \"" + arg + "\"";
        }
    }
    if (!parse.error && !o.select.empty() && !o.deviceChoice.empty())
        parse.error = "--select and --choose both choose the instruments: give one of them";
    if (!parse.error && o.select.size() > 1 && Family(static_cast<FamilyId>(o.family)).generation == 1)
        parse.error = "--select takes one serial number for \"" + std::string(Family(static_cast<FamilyId>(o.family)).listText) +
                      "\": its upgrade writes one instrument";
    if (!parse.error && o.parallel && Family(static_cast<FamilyId>(o.family)).id != FamilyId::Velkaro)
        parse.error = "--parallel upgrades several \"" + std::string(Family(FamilyId::Velkaro).listText) +
                      "\" instruments at once; it does not apply to \"" +
                      std::string(Family(static_cast<FamilyId>(o.family)).listText) + "\"";
    if (!parse.error && o.quiet && o.verbose) parse.error = "--quiet and --verbose contradict each other";
    if (!parse.error && !o.upload && !o.list && !o.help && !o.version && !o.inspect)
        parse.error = "nothing to do: give \\U (or --upload) to run the upgrade, or --list";
    return parse;
}

}  // namespace rovenza
