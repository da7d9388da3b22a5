#include "Inspect.h"

#include <cstdio>
#include <ostream>
#include <random>
#include <system_error>

#include "ExitCodes.h"
#include "JsonText.h"
#include "catalog/InstrumentCatalog.h"
#include "devices/TERVADevice.h"
#include "package/BootloadIni.h"
#include "package/WorkFolder.h"
#include "package/ZipMstr.h"
#include "protocols/FpgaConfig.h"

namespace rovenza {

namespace {

namespace fs = std::filesystem;

// The readers tell their refusals to the debugger output as well; the report carries them.
class SilentDebug final : public DebugOutput {
public:
    void write(const std::string&) override {}
};

// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes.
class ScratchFolder {
public:
    ScratchFolder() {
        std::random_device seed;
        std::error_code ec;
        const fs::path base = fs::temp_directory_path(ec);
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            char name[32];
            std::snprintf(name, sizeof name, "rovenza-inspect-%08x", seed());
            if (fs::create_directory(base / name, ec)) path_ = base / name;
        }
    }
    ~ScratchFolder() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// `text` with every mention of `file`'s full path shortened to its name.
std::string NameOnly(std::string text, const fs::path& file) {
    const std::string full = file.string();
    const std::string name = file.filename().string();
    for (std::size_t at = text.find(full); at != std::string::npos; at = text.find(full, at + name.size()))
        text.replace(at, full.size(), name);
    return text;
}

ImageReport HexReport(const fs::path& work, std::string_view file, const HexImageLayout& layout, bool can) {
    ImageReport image;
    image.file = std::string(file);
    image.windowStart = layout.windowStart;
    image.capacity = layout.capacity;
    const fs::path path = work / image.file;
    std::error_code ec;
    image.present = fs::is_regular_file(path, ec);
    if (!image.present) return image;
    SilentDebug debug;
    try {
        image.hex = can ? ReadCanHexImage(path, debug) : ReadHexImage(path, layout, debug);
        image.hex.bytes.clear();
        image.accepted = true;
    } catch (const EHexFormatError& e) {
        image.refusal = e.reason();
        image.refusalLine = e.line();
    } catch (const std::exception& e) {
        image.refusal = NameOnly(e.what(), path);
    }
    return image;
}

ImageReport FpgaReport(const fs::path& work) {
    ImageReport image;
    image.file = std::string(kFpgaHexName);
    image.kind = ImageReport::Kind::FpgaText;
    const fs::path path = work / image.file;
    std::error_code ec;
    image.present = fs::is_regular_file(path, ec);
    if (!image.present) return image;
    const FpgaTextResult result = ReadFpgaConfiguration(path);
    image.accepted = result.configuration.has_value();
    if (result.configuration) image.fpgaBlocks = result.configuration->blocks();
    if (!image.accepted) image.refusal = NameOnly(result.reason, path);
    return image;
}

ImageReport BinaryReport(const fs::path& work, std::string_view file, std::size_t limit) {
    ImageReport image;
    image.file = std::string(file);
    image.kind = ImageReport::Kind::Binary;
    image.limit = limit;
    const fs::path path = work / image.file;
    std::error_code ec;
    image.present = fs::is_regular_file(path, ec);
    if (!image.present) return image;
    image.size = fs::file_size(path, ec);
    ImageFile opened;
    image.accepted = !TTERVADevice2::OpenRawImage(path, limit, opened);
    if (!image.accepted)
        image.refusal = image.size == 0       ? "empty"
                        : image.size > limit ? "larger than the " + std::to_string(limit) + " bytes its memory takes"
                                              : "cannot be read";
    return image;
}

// The images the family reads, each as its reader takes it.
std::vector<ImageReport> ReadImages(FamilyId family, const fs::path& work) {
    switch (family) {
        case FamilyId::IrigClock:
            return {HexReport(work, kPicUsbHexName, kUsbImageLayout, false), FpgaReport(work)};
        case FamilyId::Ulmo:
            return {HexReport(work, kUlmoUsbHexName, kUsbImageLayout, false),
                    HexReport(work, kUlmoCanHexName, kCanImageLayout, true)};
        case FamilyId::Velkaro:
            return {BinaryReport(work, kUsbBinName, TTERVADevice2::kEepromImageLimit),
                    BinaryReport(work, kFpgaBinName, TTERVADevice2::kFlashImageLimit)};
        case FamilyId::PowerController:
            return {HexReport(work, kPicUsbHexName, kUsbImageLayout, false)};
        case FamilyId::Zenara: {
            std::vector<ImageReport> images;
            for (const auto& type : kModuleTypes) {
                images.push_back(HexReport(work, type.imageFile, ModuleImageLayout(type.imageLength), false));
                images.back().moduleType = type.code;
            }
            return images;
        }
    }
    return {};
}

// Unpacks the package into `work` as an upgrade would; on failure, tries each member alone so
// that every member's state is known.
void Unpack(PackageReport& report, const fs::path& work) {
    TZipMaster zip;
    try {
        zip.SetZipFilename(report.package);
    } catch (const std::exception& e) {
        report.unreadable = e.what();
        return;
    }
    for (const ZipDirEntry& entry : zip.Directory()) {
        const bool folder = ResolveMemberName(entry.FileName).kind == MemberTarget::Kind::Folder;
        report.members.push_back(
            {entry.FileName, entry.UncompressedSize, entry.CompressedSize, entry.CRC32, folder ? "folder" : "ok"});
    }
    zip.ExtrBaseDir = work;
    zip.ExtrOptions = {ExtrOption::ExtrOverWrite};
    try {
        zip.Extract();
        return;
    } catch (const std::exception& e) {
        report.unreadable = e.what();
    }
    for (MemberReport& member : report.members) {
        if (member.state == "folder") continue;
        zip.FSpecArgs = {member.name};
        try {
            zip.Extract();
        } catch (const std::exception& e) {
            member.state = e.what();
        }
    }
}

void Judge(PackageReport& report) {
    if (!report.unreadable.empty()) {
        report.verdict = "the package cannot be read (\"The FWU file does not exist.\")";
        return;
    }
    if (report.family < 0) {
        report.verdict = !report.manifest            ? "the package holds no " + std::string(kManifestFileName)
                         : report.deviceType == -1 ? "the manifest gives no DeviceType"
                                                    : "no family takes DeviceType " + std::to_string(report.deviceType);
        return;
    }
    std::string refused;  // images the family reads before its first write
    std::string modules;  // Zenara: module types without a usable image
    for (const ImageReport& image : report.images) {
        if (image.accepted) continue;
        if (image.moduleType)
            modules += (modules.empty() ? "" : ", ") + std::string(FindModuleType(*image.moduleType)->name);
        else
            refused += (refused.empty() ? "" : "; ") + image.file + (image.present ? " is refused" : " is missing");
    }
    report.wouldStart = refused.empty();
    report.verdict = refused;
    if (report.wouldStart && !modules.empty())
        report.verdict = "no usable image for module type " + modules +
                         ": a module of such a type ends the run with \"Error - EXCEPTION\"";
}

std::string Hex(std::uint64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

std::string RangeText(const HexRange& range) {
    const std::uint64_t last = std::uint64_t{range.first} + range.length - 1;
    const int digits = last > 0xFFFF ? 6 : 4;
    return Hex(range.first, digits) + "-" + Hex(last, digits);
}

std::string ModuleTypeName(const ImageReport& image) {
    return image.moduleType ? std::string(FindModuleType(*image.moduleType)->name) : std::string();
}

std::string ImageLine(const ImageReport& image) {
    std::string line = image.file;
    if (image.moduleType) line += " (module type " + ModuleTypeName(image) + ")";
    line += ": ";
    if (!image.present) return line + "missing";
    if (!image.accepted) {
        line += "refused";
        if (image.refusalLine > 0) line += " at line " + std::to_string(image.refusalLine);
        return line + ": " + image.refusal;
    }
    switch (image.kind) {
        case ImageReport::Kind::FpgaText:
            return line + std::to_string(image.fpgaBlocks) + " blocks of " + std::to_string(kFpgaBlockSize) + " bytes";
        case ImageReport::Kind::Binary:
            return line + std::to_string(image.size) + " bytes (at most " + std::to_string(image.limit) + ")";
        case ImageReport::Kind::Hex:
            break;
    }
    const HexImage& hex = image.hex;
    line += std::to_string(hex.dataRecords) + " data records at ";
    for (std::size_t i = 0; i < hex.ranges.size(); ++i) line += (i ? ", " : "") + RangeText(hex.ranges[i]);
    line += "; " + std::to_string(hex.storedBytes) + " bytes into the " + std::to_string(image.capacity) +
            "-byte image from " + Hex(image.windowStart, 4);
    if (hex.overrunBytes > 0) line += ", " + std::to_string(hex.overrunBytes) + " beyond it dropped";
    if (hex.droppedBytes > hex.overrunBytes)
        line += ", " + std::to_string(hex.droppedBytes - hex.overrunBytes) + " above the first 64 KiB dropped";
    if (hex.end == HexEnd::SegmentRecord) line += "; a segment address record ends it";
    return line;
}

std::string ImageJson(const ImageReport& image) {
    JsonObject json;
    json.text("file", image.file);
    json.text("kind", image.kind == ImageReport::Kind::Hex        ? "hex"
                      : image.kind == ImageReport::Kind::FpgaText ? "fpga"
                                                                  : "binary");
    if (image.moduleType) json.text("moduleType", ModuleTypeName(image)).number("moduleTypeCode", *image.moduleType);
    json.flag("present", image.present).flag("accepted", image.accepted);
    if (image.accepted)
        json.null("refusal");
    else
        json.text("refusal", image.present ? image.refusal : "missing");
    if (image.refusalLine > 0)
        json.number("line", static_cast<std::int64_t>(image.refusalLine));
    else
        json.null("line");
    if (!image.accepted) return json.str();
    switch (image.kind) {
        case ImageReport::Kind::FpgaText:
            json.number("blocks", static_cast<std::int64_t>(image.fpgaBlocks));
            break;
        case ImageReport::Kind::Binary:
            json.number("size", static_cast<std::int64_t>(image.size)).number("limit", static_cast<std::int64_t>(image.limit));
            break;
        case ImageReport::Kind::Hex: {
            std::vector<std::string> ranges;
            for (const HexRange& range : image.hex.ranges)
                ranges.push_back(JsonObject()
                                     .number("first", range.first)
                                     .number("last", std::int64_t{range.first} + range.length - 1)
                                     .str());
            json.number("dataRecords", image.hex.dataRecords)
                .raw("ranges", JsonArray(ranges))
                .number("windowStart", image.windowStart)
                .number("capacity", image.capacity)
                .number("imageBytes", image.hex.storedBytes)
                .number("overrunBytes", image.hex.overrunBytes)
                .number("droppedBytes", image.hex.droppedBytes)
                .text("end", image.hex.end == HexEnd::EndOfFile ? "end-of-file record" : "segment address record");
            break;
        }
    }
    return json.str();
}

std::string FamilyName(const PackageReport& report) {
    return std::string(kFamilies[static_cast<std::size_t>(report.family)].listText);
}

}  // namespace

PackageReport InspectPackage(const std::filesystem::path& package) {
    PackageReport report;
    report.package = package.string();
    std::error_code ec;
    if (!fs::exists(package, ec)) {
        report.unreadable = "the file does not exist";
    } else if (!fs::is_regular_file(package, ec)) {
        report.unreadable = "not a file";
    } else {
        ScratchFolder scratch;
        if (scratch.path().empty()) {
            report.unreadable = "no temporary work folder could be made";
        } else {
            Unpack(report, scratch.path());
        }
        if (report.unreadable.empty()) {
            const fs::path manifest = scratch.path() / kManifestFileName;
            report.manifest = fs::is_regular_file(manifest, ec);
            const TIniFile ini(manifest);
            report.deviceType = ini.ReadInteger(kManifestInfoSection, kManifestDeviceTypeKey, -1);
            report.fpgaBitSwap = ini.ReadBool(kManifestSettingsSection, kManifestFPGABitSwapKey, false);
            report.fpgaPowerOn = ini.ReadBool(kManifestSettingsSection, kManifestFPGAPowerONKey, false);
            for (std::size_t i = 0; i < kFamilies.size(); ++i)
                if (kFamilies[i].deviceType == report.deviceType) report.family = static_cast<int>(i);
            if (report.family >= 0)
                report.images = ReadImages(kFamilies[static_cast<std::size_t>(report.family)].id, scratch.path());
        }
    }
    Judge(report);
    return report;
}

int InspectExitStatus(const PackageReport& report) {
    if (!report.unreadable.empty()) return kExitPackage;
    return report.family < 0 ? kExitWrongFamily : kExitSuccess;
}

void WriteInspectText(const PackageReport& report, std::ostream& out) {
    out << "Package: " << report.package << '\n';
    if (!report.members.empty()) out << "Members:\n";
    for (const MemberReport& member : report.members)
        out << "  " << member.name << ": " << member.size << " bytes (" << member.compressedSize
            << " packed), CRC " << Hex(member.crc, 8).substr(2) << ", " << member.state << '\n';
    if (!report.unreadable.empty()) out << "Not readable: " << report.unreadable << '\n';
    if (report.unreadable.empty()) {
        out << "Manifest: ";
        if (!report.manifest)
            out << "missing\n";
        else
            out << "DeviceType " << report.deviceType << "; Settings: FPGABitSwap=" << report.fpgaBitSwap
                << " FPGAPowerON=" << report.fpgaPowerOn << '\n';
        out << "Family: " << (report.family >= 0 ? "\"" + FamilyName(report) + "\"" : std::string("none")) << '\n';
    }
    if (!report.images.empty()) out << "Images:\n";
    for (const ImageReport& image : report.images) out << "  " << ImageLine(image) << '\n';
    out << "An upgrade would " << (report.wouldStart ? "start" : "not start");
    out << (report.verdict.empty() ? std::string() : ": " + report.verdict) << '\n';
}

std::string InspectJson(const PackageReport& report) {
    std::vector<std::string> members;
    for (const MemberReport& member : report.members)
        members.push_back(JsonObject()
                              .text("name", member.name)
                              .number("size", static_cast<std::int64_t>(member.size))
                              .number("compressedSize", static_cast<std::int64_t>(member.compressedSize))
                              .text("crc", Hex(member.crc, 8).substr(2))
                              .text("state", member.state)
                              .str());
    std::vector<std::string> images;
    for (const ImageReport& image : report.images) images.push_back(ImageJson(image));
    JsonObject json;
    json.text("package", report.package);
    if (report.unreadable.empty())
        json.null("unreadable");
    else
        json.text("unreadable", report.unreadable);
    json.raw("members", JsonArray(members));
    if (report.unreadable.empty()) {
        JsonObject manifest;
        manifest.flag("present", report.manifest);
        if (report.deviceType == -1)
            manifest.null("DeviceType");
        else
            manifest.number("DeviceType", report.deviceType);
        manifest.raw("Settings", JsonObject()
                                     .flag("FPGABitSwap", report.fpgaBitSwap)
                                     .flag("FPGAPowerON", report.fpgaPowerOn)
                                     .str());
        json.raw("manifest", manifest.str());
    } else {
        json.null("manifest");
    }
    if (report.family >= 0)
        json.text("family", FamilyName(report));
    else
        json.null("family");
    json.raw("images", JsonArray(images)).flag("upgradeWouldStart", report.wouldStart);
    if (report.verdict.empty())
        json.null("verdict");
    else
        json.text("verdict", report.verdict);
    return json.str();
}

int RunInspect(const std::string& package, bool json, std::ostream& out) {
    const PackageReport report = InspectPackage(package);
    if (json)
        out << InspectJson(report) << '\n';
    else
        WriteInspectText(report, out);
    return InspectExitStatus(report);
}

}  // namespace rovenza
