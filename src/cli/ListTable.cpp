#include "ListTable.h"

#include <algorithm>
#include <ostream>

#include "JsonText.h"
#include "catalog/InstrumentCatalog.h"
#include "devices/USBDevice2.h"
#include "usb/VELKUSB_Enum.h"

namespace rovenza {

std::vector<AttachedInstrument> ListAttached(const Context& ctx, int generation) {
    std::vector<AttachedInstrument> found;
    const std::vector<std::string> paths = generation == 2 ? std::vector<std::string>() : ListFirstGeneration(ctx).paths;
    for (const auto& path : paths) {
        AttachedInstrument instrument;
        ExtractPid(path, instrument.pid);
        for (const auto& known : kFamilies)
            if (!known.firmwarePid.empty() && instrument.pid == known.firmwarePid) instrument.family = known.listText;
        instrument.mode = instrument.pid == kPidBootLoader ? "bootloader" : "firmware";
        instrument.serial = DevicePathSerial(path);
        instrument.path = path;
        found.push_back(std::move(instrument));
    }
    if (generation == 1) return found;
    for (const auto& listed : ListSecondGeneration(ctx)) {
        AttachedInstrument instrument;
        instrument.generation = 2;
        ExtractPid(listed.path, instrument.pid);
        for (const auto& known : kFamilies)
            if (known.generation == 2 && listed.friendlyName == known.listText) instrument.family = known.listText;
        instrument.mode = listed.item.empty() ? "not openable" : "firmware";
        if (!listed.item.empty()) instrument.serial = listed.item.substr(kSerialItemPrefix.size());
        instrument.path = listed.path;
        found.push_back(std::move(instrument));
    }
    return found;
}

void WriteInstrumentTable(const std::vector<AttachedInstrument>& instruments, std::ostream& out) {
    if (instruments.empty()) {
        out << "No instruments found.\n";
        return;
    }
    std::vector<std::vector<std::string>> rows{{"FAMILY", "SERIAL", "MODE", "GENERATION", "PATH"}};
    for (const auto& i : instruments)
        rows.push_back({i.family.empty() ? "-" : i.family, i.serial.empty() ? "-" : i.serial, i.mode,
                        std::to_string(i.generation), i.path});
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c + 1 < row.size(); ++c) line += row[c] + std::string(widths[c] - row[c].size() + 2, ' ');
        out << line << row.back() << '\n';
    }
}

std::string InstrumentsJson(const std::vector<AttachedInstrument>& instruments) {
    std::vector<std::string> items;
    for (const auto& i : instruments) {
        JsonObject object;
        if (i.family.empty())
            object.null("family");
        else
            object.text("family", i.family);
        object.number("generation", i.generation).text("pid", i.pid).text("mode", i.mode);
        if (i.serial.empty())
            object.null("serial");
        else
            object.text("serial", i.serial);
        items.push_back(object.text("path", i.path).str());
    }
    return JsonArray(items);
}

std::optional<std::string> CheckSelection(const std::vector<AttachedInstrument>& attached, int generation,
                                          const std::vector<std::string>& select) {
    std::vector<std::string> serials;
    for (const auto& instrument : attached)
        if (instrument.generation == generation && !instrument.serial.empty()) serials.push_back(instrument.serial);
    for (const auto& serial : select) {
        const bool found = std::any_of(serials.begin(), serials.end(),
                                       [&](const std::string& s) { return AsciiUpper(s) == AsciiUpper(serial); });
        if (found) continue;
        std::string names;
        for (const auto& s : serials) names += (names.empty() ? "" : ", ") + s;
        return "no attached instrument has the serial number \"" + serial + "\" (attached: " +
               (names.empty() ? std::string("none") : names) + ")";
    }
    return std::nullopt;
}

}  // namespace rovenza
