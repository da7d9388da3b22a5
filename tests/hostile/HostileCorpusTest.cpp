// Hostile packages, each upgraded by the command line program on the simulated bench: the final
// message, nothing outside the work folder created, changed or deleted, and the time and peak
// memory of the run (printed as a table, never judged beyond the watchdog).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "MeasuredRun.h"
#include "fwu/DemoPackage.h"
#include "fwu/FwuWriter.h"
#include "fwu/HexWriter.h"
#include "package/BootloadIni.h"
#include "package/UNZDLL.h"
#include "package/WorkFolder.h"
#include "package/ZipMstr.h"
#include "protocols/IntelHex.h"
#include "support/PackageBytes.h"
#include "support/StreamZip.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

namespace fs = std::filesystem;

constexpr const char* kVk101 = "VK101 Power Controller";
constexpr const char* kIrig = "IRIG Clock";
constexpr const char* kUlmo = "ULMO";
constexpr const char* kVelkaro = "Velkaro USB";
constexpr const char* kZenara = "VKUSB Zenara - Modules";

const std::string kSuccess = "Firmware upgrade successful!";
const std::string kNoPackage = "The FWU file does not exist.";
const std::string kException = "Error - EXCEPTION";
const std::string kCorrupted = "Corrupted file";

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint32_t kUnixLink = 0120777u << 16;  // external attributes of a Unix link
constexpr std::uint16_t kMadeOnUnix = 0x0314;

// A folder of its own per row: the program folder (its work folder Temp), the package's folder,
// and decoys beside both. The program runs with the sandbox as its current folder.
struct Sandbox {
    TempDir dir;
    fs::path root = dir.path();
    fs::path packages = root / "packages";
    fs::path program = root / "program";
    fs::path work = WorkFolderPath(program);
    fs::path package = packages / "p.fwu";

    Sandbox() {
        fs::create_directories(packages);
        fs::create_directories(PackageFolderPath(program));
        for (const fs::path& folder : {root, packages, program})
            WriteFileBytes(folder / "decoy.txt", "decoy in " + folder.filename().string());
    }
};

// Everything in the sandbox except the work folder and what lies in it, by relative path:
// its kind and, for files, their bytes (size and time for files too large to compare).
std::map<std::string, std::string> Snapshot(const Sandbox& sb) {
    std::map<std::string, std::string> items;
    for (auto it = fs::recursive_directory_iterator(sb.root); it != fs::recursive_directory_iterator(); ++it) {
        const fs::path& p = it->path();
        if (p == sb.work) {
            it.disable_recursion_pending();
            continue;
        }
        struct stat st {};
        if (lstat(p.c_str(), &st) != 0) throw std::runtime_error("cannot look at " + p.string());
        std::ostringstream what;
        what << "mode " << std::oct << st.st_mode << std::dec;
        if (S_ISLNK(st.st_mode)) {
            what << " link to " << fs::read_symlink(p).string();
        } else if (S_ISREG(st.st_mode)) {
            if (st.st_size <= static_cast<off_t>(64 * kMiB)) what << " bytes " << ReadFileBytes(p);
            else what << " size " << st.st_size << " modified " << st.st_mtim.tv_sec << "." << st.st_mtim.tv_nsec;
        }
        items[p.lexically_relative(sb.root).generic_string()] = what.str();
    }
    return items;
}

std::string SnapshotChanges(const std::map<std::string, std::string>& before,
                            const std::map<std::string, std::string>& after) {
    std::string changes;
    for (const auto& [path, what] : before) {
        const auto it = after.find(path);
        if (it == after.end()) changes += " removed " + path + ";";
        else if (it->second != what) changes += " changed " + path + ";";
    }
    for (const auto& [path, what] : after)
        if (!before.count(path)) changes += " created " + path + ";";
    return changes;
}

// --- Package makers -----------------------------------------------------------------------

const std::string& Vk101Hex() {
    static const std::string text = WriteIntelHex(DemoUsbPicImage());
    return text;
}

RawZipMember Stored(std::string name, std::string data) { return {std::move(name), std::move(data)}; }

RawZipMember Deflated(std::string name, const std::string& text) {
    RawZipMember m{std::move(name), RawDeflate(text)};
    m.method = 8;
    m.crc = Crc32(0, text.data(), text.size());
    m.uncompressedSize = static_cast<std::uint32_t>(text.size());
    return m;
}

RawZipMember Deflated(std::string name, const RepeatedDeflate& text) {
    RawZipMember m{std::move(name), text.deflated};
    m.method = 8;
    m.crc = text.crc;
    m.uncompressedSize = static_cast<std::uint32_t>(text.size);
    return m;
}

// The VK101 package's manifest and image, under the names given.
std::vector<RawZipMember> Vk101(const std::string& manifestName = "Bootload.ini",
                                const std::string& hexName = "pic_USB.hex") {
    return {Stored(manifestName, ManifestText(4)), Deflated(hexName, Vk101Hex())};
}

std::vector<RawZipMember> Plus(std::vector<RawZipMember> members, std::vector<RawZipMember> more) {
    members.insert(members.end(), more.begin(), more.end());
    return members;
}

RawZipMember Link(std::string name, std::string target) {
    RawZipMember m = Stored(std::move(name), std::move(target));
    m.madeBy = kMadeOnUnix;
    m.externalAttributes = kUnixLink;
    return m;
}

// `count` MiB of zeros, deflated (about 1 KiB per MiB).
const RepeatedDeflate& Zeros(std::uint64_t count) {
    static std::map<std::uint64_t, RepeatedDeflate> made;
    auto it = made.find(count);
    if (it == made.end()) it = made.emplace(count, DeflateRepeated("", std::string(kMiB, '\0'), count, "")).first;
    return it->second;
}

const std::string kHexEnd = ":00000001FF\r\n";
const std::string kDroppedDataLine = ":10000000" + std::string(32, '0') + "F0\r\n";  // 16 bytes

// The HEX file `hex` without its end-of-file record, then an extended linear address 1: data
// records after it never reach the image.
std::string HexUpToDroppedData(const std::string& hex) {
    return hex.substr(0, hex.size() - kHexEnd.size()) + ":020000040001F9\r\n";
}

// `hex` with `lines` copies of `line` that never reach the image, deflated.
RepeatedDeflate HexWithDroppedLines(const std::string& hex, const std::string& line, std::uint64_t lines) {
    constexpr std::uint64_t kPerChunk = 10000;
    std::string chunk;
    for (std::uint64_t i = 0; i < kPerChunk; ++i) chunk += line;
    std::string tail;
    for (std::uint64_t i = 0; i < lines % kPerChunk; ++i) tail += line;
    return DeflateRepeated(HexUpToDroppedData(hex), chunk, lines / kPerChunk, tail + kHexEnd);
}

// `hex` made just longer than `limit` bytes by data that never reaches the image.
std::string HexOver(const std::string& hex, std::uint64_t limit) {
    std::string text = HexUpToDroppedData(hex);
    while (text.size() + kHexEnd.size() <= limit) text += kDroppedDataLine;
    return text + kHexEnd;
}

std::vector<FwuMember> Demo(std::string_view family) { return *DemoPackageMembers(family); }

const std::string& Bytes(const std::vector<FwuMember>& members, const std::string& name) {
    for (const FwuMember& m : members)
        if (m.name == name) return m.bytes;
    throw std::logic_error("no member " + name);
}

std::vector<FwuMember> Replaced(std::vector<FwuMember> members, const std::string& name, std::string bytes) {
    for (FwuMember& m : members)
        if (m.name == name) m.bytes = std::move(bytes);
    return members;
}

fs::path Raw(const Sandbox& sb, const std::string& bytes) {
    WriteFileBytes(sb.package, bytes);
    return sb.package;
}

// An extra field of 65,004 bytes (one field of an unknown id).
std::string LargeExtraField() {
    std::string field("\x99\x99\xE8\xFD", 4);  // id 0x9999, 65,000 bytes
    return field + std::string(65000, '\0');
}

fs::path Fwu(const Sandbox& sb, const std::vector<FwuMember>& members) {
    WriteFwu(sb.package, members);
    return sb.package;
}

// --- The table -----------------------------------------------------------------------------

struct Row {
    std::string what;
    std::string family;
    std::function<fs::path(const Sandbox&)> make;  // writes the package (and readies the work folder)
    std::string expected;
    std::string reason = {};                          // in the debugger output (standard error)
    std::function<void(const Sandbox&)> check = {};  // what else must hold afterwards
};

struct Measured {
    std::string what;
    std::string message;
    double seconds;
    long peakKiB;
};

std::vector<Measured>& Table() {
    static std::vector<Measured> table;
    return table;
}

std::string LastLine(const std::string& text) {
    std::string s = text;
    while (!s.empty() && s.back() == '\n') s.pop_back();
    const auto nl = s.rfind('\n');
    return nl == std::string::npos ? s : s.substr(nl + 1);
}

void RunRow(const Row& row, int watchdogSeconds) {
    SCOPED_TRACE(row.what);
    Sandbox sb;
    const fs::path package = row.make(sb);
    const auto before = Snapshot(sb);
    // --verbose: the diagnostics name the reason.
    const std::vector<std::string> command{ROVENZA_CLI_PATH, "--program-folder", sb.program.string(), "--verbose",
                                           "--simulate", "\\D", row.family, "\\F", package.string(), "\\U"};
    const MeasuredRun run = RunMeasured(command, sb.root, watchdogSeconds);
    Table().push_back({row.what, run.timedOut ? "(killed by the watchdog)" : LastLine(run.out), run.seconds, run.peakKiB});

    EXPECT_FALSE(run.timedOut) << "still running after " << watchdogSeconds << " s";
    EXPECT_EQ(run.signal, 0) << run.err;
    EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;  // in the sanitizer builds
    EXPECT_EQ(LastLine(run.out), row.expected) << run.err;
    EXPECT_NE(run.err.find(row.reason), std::string::npos) << row.reason << " not in:\n" << run.err.substr(0, 4000);
    EXPECT_EQ(SnapshotChanges(before, Snapshot(sb)), "");
    if (row.check) row.check(sb);
}

void PrintTable(const char* title) {
    std::ostringstream out;
    out << "\n" << title << "\n" << std::left << std::setw(64) << "input" << std::setw(40) << "message" << std::right
        << std::setw(9) << "time s" << std::setw(11) << "peak MiB" << "\n";
    for (const Measured& m : Table()) {
        out << std::left << std::setw(64) << m.what << std::setw(40) << m.message << std::right << std::fixed
            << std::setprecision(2) << std::setw(9) << m.seconds << std::setw(11) << std::setprecision(1)
            << m.peakKiB / 1024.0 << "\n";
    }
    std::cout << out.str() << std::flush;
    Table().clear();
}

// Names that reach out of the work folder land in it; a name Windows would read as a drive or a
// stream is refused.
std::vector<Row> TraversalRows() {
    const auto overwritten = [](const Sandbox& sb) { EXPECT_EQ(ReadFileBytes(sb.work / "decoy.txt"), "overwritten"); };
    return {
        {"traversal: ../ and a/b/../../../", kVk101,
         [](const Sandbox& sb) {
             return Raw(sb, BuildRawZip(Plus(Vk101("a/b/../../../Bootload.ini", "../../pic_USB.hex"),
                                             {Stored("../decoy.txt", "overwritten")})));
         },
         kSuccess, "", overwritten},
        {"traversal: absolute names into the sandbox", kVk101,
         [](const Sandbox& sb) {
             return Raw(sb, BuildRawZip(Plus(Vk101((sb.program / "Bootload.ini").string(), (sb.root / "pic_USB.hex").string()),
                                             {Stored((sb.packages / "decoy.txt").string(), "overwritten")})));
         },
         kSuccess, "", overwritten},
        {"traversal: drive letters C:\\x, D:x, Z:..\\x", kVk101,
         [](const Sandbox& sb) {
             return Raw(sb, BuildRawZip(Plus(Vk101("C:\\Bootload.ini", "D:pic_USB.hex"),
                                             {Stored("Z:..\\decoy.txt", "overwritten")})));
         },
         kSuccess, "", overwritten},
        {"traversal: backslashes ..\\..\\x and \\\\server\\share\\x", kVk101,
         [](const Sandbox& sb) {
             return Raw(sb, BuildRawZip(Plus(Vk101("..\\..\\Bootload.ini", "\\\\server\\share\\pic_USB.hex"),
                                             {Stored("..\\decoy.txt", "overwritten")})));
         },
         kSuccess, "", overwritten},
        {"traversal: sub/D:x (a drive inside the name)", kVk101,
         [](const Sandbox& sb) { return Raw(sb, BuildRawZip(Plus(Vk101(), {Stored("sub/D:decoy.txt", "x")}))); },
         kNoPackage, "file name \"D:decoy.txt\" holds a ':'"},
    };
}

std::vector<Row> LinkRows() {
    const auto noLinkInWork = [](const Sandbox& sb) {
        for (const auto& entry : fs::directory_iterator(sb.work)) EXPECT_FALSE(entry.is_symlink()) << entry.path();
    };
    return {
        {"archive: Unix link member to the sandbox, then link/decoy.txt", kVk101,
         [](const Sandbox& sb) {
             return Raw(sb, BuildRawZip(Plus(Vk101(), {Link("escape", sb.root.string()),
                                                       Stored("escape/decoy.txt", "overwritten")})));
         },
         kSuccess, "",
         [noLinkInWork](const Sandbox& sb) {
             noLinkInWork(sb);
             EXPECT_EQ(ReadFileBytes(sb.work / "escape"), sb.root.string());
         }},
        {"archive: the image as a link to a good image outside", kVk101,
         [](const Sandbox& sb) {
             WriteFileBytes(sb.packages / "real.hex", Vk101Hex());
             std::vector<RawZipMember> members{Stored("Bootload.ini", ManifestText(4)),
                                               Link("pic_USB.hex", (sb.packages / "real.hex").string())};
             return Raw(sb, BuildRawZip(members));
         },
         kException, "line 1: line does not start with ':'", noLinkInWork},
        {"work folder: Temp is a link to the package folder", kVk101,
         [](const Sandbox& sb) {
             fs::create_directory_symlink(sb.packages, sb.work);
             return Raw(sb, BuildRawZip(Vk101()));
         },
         kNoPackage, "is a link or not a folder", [](const Sandbox& sb) { EXPECT_TRUE(fs::is_symlink(sb.work)); }},
        {"work folder: links in it to files and a folder outside", kVk101,
         [](const Sandbox& sb) {
             fs::create_directories(sb.work);
             fs::create_symlink(sb.root / "decoy.txt", sb.work / "Bootload.ini");
             fs::create_symlink("../decoy.txt", sb.work / "pic_USB.hex");
             fs::create_directory_symlink(sb.root, sb.work / "up");
             return Raw(sb, BuildRawZip(Vk101()));
         },
         kSuccess, "", noLinkInWork},
        {"work folder: hard links in it to files outside", kVk101,
         [](const Sandbox& sb) {
             fs::create_directories(sb.work);
             fs::create_hard_link(sb.packages / "decoy.txt", sb.work / "pic_USB.hex");
             fs::create_hard_link(sb.program / "decoy.txt", sb.work / "fpga.bin");
             return Raw(sb, BuildRawZip(Vk101()));
         },
         kSuccess},
        {"work folder: a FIFO as Bootload.ini, the package without one", kVk101,
         [](const Sandbox& sb) {
             fs::create_directories(sb.work);
             if (mkfifo((sb.work / "Bootload.ini").c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
             return Raw(sb, BuildRawZip({Deflated("pic_USB.hex", Vk101Hex())}));
         },
         "Instrument or FWU file is not VK101!"},
        {"work folder: a FIFO as pic_USB.hex, the package without one", kVk101,
         [](const Sandbox& sb) {
             fs::create_directories(sb.work);
             if (mkfifo((sb.work / "pic_USB.hex").c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
             return Raw(sb, BuildRawZip({Stored("Bootload.ini", ManifestText(4))}));
         },
         kException, "Cannot open file"},
        {"work folder: the package itself lies in it", kVk101,
         [](const Sandbox& sb) {
             fs::create_directories(sb.work);
             WriteFileBytes(sb.work / "p.fwu", BuildRawZip(Vk101()));
             return sb.work / "p.fwu";
         },
         kNoPackage, "lies in the work folder",
         [](const Sandbox& sb) {
             ASSERT_TRUE(fs::exists(sb.work / "p.fwu"));
             EXPECT_EQ(ReadFileBytes(sb.work / "p.fwu"), BuildRawZip(Vk101()));
         }},
    };
}

std::vector<Row> ArchiveRows() {
    // The VK101 package, deflated, and where its parts lie.
    const std::string good = BuildRawZip(Vk101());
    const std::size_t centralAt = CentralHeaderOffset(good, "Bootload.ini");
    const std::size_t hexLocalAt = MemberDataOffset(good, "Bootload.ini") + ManifestText(4).size();
    const auto patched = [good](std::size_t at, std::uint32_t value, bool wide) {
        std::string bytes = good;
        if (wide) PutLe32(bytes, at, value);
        else PutLe16(bytes, at, static_cast<std::uint16_t>(value));
        return bytes;
    };
    std::string renamed = good;  // the image's central name "qic_USB.hex"
    renamed[CentralHeaderOffset(good, "pic_USB.hex") + 46] = 'q';
    const std::string inconsistent = "Zip archive inconsistent";  // the zip library's word for it
    const auto raw = [](std::string bytes) { return [bytes](const Sandbox& sb) { return Raw(sb, bytes); }; };
    const std::size_t hexCentral = CentralHeaderOffset(good, "pic_USB.hex");

    RawZipMember encrypted = Deflated("pic_USB.hex", Vk101Hex());
    encrypted.flags = 0x0001;
    RawZipMember aes = Stored("pic_USB.hex", Vk101Hex());
    aes.method = 99;
    aes.extra = aes.centralExtra = std::string("\x01\x99\x07\x00\x02\x00" "AE\x03\x08\x00", 11);
    RawZipMember badCrc = Deflated("pic_USB.hex", Vk101Hex());
    badCrc.crc = *badCrc.crc ^ 1;

    // A member whose data holds the next member's local header and data: the walk steps over
    // it, the central directory lists it.
    const std::string inner = BuildRawZip({Deflated("pic_USB.hex", Vk101Hex())});
    const std::string innerLocal = inner.substr(0, CentralHeaderOffset(inner, "pic_USB.hex"));
    const std::string covering = BuildRawZip({Stored("Bootload.ini", ManifestText(4)), Stored("cover.bin", innerLocal)});
    const std::string hidden =
        AddCentralEntry(covering, inner, "pic_USB.hex", static_cast<std::uint32_t>(MemberDataOffset(covering, "cover.bin")));
    // Two central entries on one local header.
    const std::string shared = AddCentralEntry(good, BuildRawZip({Deflated("fpga.bin", Vk101Hex())}), "fpga.bin",
                                                static_cast<std::uint32_t>(hexLocalAt));

    std::vector<StreamZipMember> streamed;
    std::vector<StreamZipMember> zip64;
    for (const FwuMember& m : Demo(kDemoVk101)) {
        streamed.push_back({m.name, m.bytes, true, true, m.name == "pic_USB.hex"});
        zip64.push_back({m.name, m.bytes, true, false, false, true});
    }
    const std::string streamedZip = BuildStreamZip(streamed);
    std::string streamedBadCrc = streamedZip;
    PutLe32(streamedBadCrc, CentralHeaderOffset(streamedZip, "pic_USB.hex") + 16, 0xDEADBEEF);
    std::string zip64Huge = BuildStreamZip(zip64);
    {
        // The hex member's local zip64 field: uncompressed, then compressed size.
        const std::size_t field = MemberDataOffset(zip64Huge, "pic_USB.hex") - 20;
        PutLe32(zip64Huge, field + 4, 0xFFFFFFF0u);
        PutLe32(zip64Huge, field + 8, 0x7FFFFFFFu);
        PutLe32(zip64Huge, field + 12, 0xFFFFFFF0u);
        PutLe32(zip64Huge, field + 16, 0x7FFFFFFFu);
    }

    return {
        {"zip bomb: 1 GiB declared honestly", kVk101,
         [](const Sandbox& sb) { return Raw(sb, BuildRawZip(Plus(Vk101(), {Deflated("fpga.bin", Zeros(1024))}))); },
         kNoPackage, "declared size 1073741824 exceeds"},
        {"zip bomb: 1 GiB declared as 1000 bytes", kVk101,
         [](const Sandbox& sb) {
             RawZipMember bomb = Deflated("fpga.bin", Zeros(1024));
             bomb.uncompressedSize = 1000;
             return Raw(sb, BuildRawZip(Plus(Vk101(), {bomb})));
         },
         kNoPackage, "holds more data than its declared size of 1000 bytes"},
        {"zip bomb: two honest members of 200 MiB", kVk101,
         [](const Sandbox& sb) {
             return Raw(sb, BuildRawZip(Plus(Vk101(), {Deflated("a.bin", Zeros(200)), Deflated("b.bin", Zeros(200))})));
         },
         kNoPackage, "declared sizes add up to more than"},
        {"overlap: two central entries on one local header", kVk101, raw(shared), kNoPackage, inconsistent},
        {"overlap: a member's data holds another member", kVk101, raw(hidden), kNoPackage, "members overlap or hide one another"},
        {"encryption: traditional (flag bit 0)", kVk101,
         raw(BuildRawZip({Stored("Bootload.ini", ManifestText(4)), encrypted})), kNoPackage,
         "encrypted members are not supported"},
        {"encryption: AES (method 99)", kVk101, raw(BuildRawZip({Stored("Bootload.ini", ManifestText(4)), aes})),
         kNoPackage, "encrypted members are not supported"},
        {"zip64: sizes in zip64 fields", kVk101, raw(BuildStreamZip(zip64)), kSuccess},
        {"zip64: a local zip64 size near 2^63", kVk101, raw(zip64Huge), kNoPackage, "Error 3 reading Zip file"},
        {"data descriptors: streamed members", kVk101, raw(streamedZip), kSuccess},
        {"data descriptors: central CRC disagrees", kVk101, raw(streamedBadCrc), kNoPackage, "CRC error"},
        {"bad CRC", kVk101, raw(BuildRawZip({Stored("Bootload.ini", ManifestText(4)), badCrc})), kNoPackage, "CRC error"},
        {"truncated: empty file", kVk101, raw(""), kNoPackage, "Error 1 reading Zip File"},
        {"truncated: inside the image's data", kVk101, raw(good.substr(0, hexLocalAt + 1000)), kNoPackage,
         "Error 3 reading Zip file"},
        {"truncated: inside the central directory", kVk101, raw(good.substr(0, centralAt + 20)), kNoPackage,
         "Error 3 reading Zip file"},
        {"truncated: one byte short", kVk101, raw(good.substr(0, good.size() - 1)), kNoPackage,
         "Not a zip archive"},
        {"central/local: names differ", kVk101, raw(renamed), kNoPackage, inconsistent},
        {"central/local: compressed sizes differ", kVk101, raw(patched(hexLocalAt + 18, 100, true)), kNoPackage, inconsistent},
        {"central/local: methods differ", kVk101, raw(patched(hexLocalAt + 8, 0, false)), kNoPackage, inconsistent},
        {"central/local: CRCs differ", kVk101, raw(patched(hexLocalAt + 14, 0x12345678, true)), kNoPackage, inconsistent},
        {"central/local: uncompressed sizes differ", kVk101, raw(patched(hexCentral + 24, 1000, true)), kNoPackage, inconsistent},
    };
}

std::vector<Row> NameRows() {
    return {
        {"names: two members equal but for case", kVk101,
         [](const Sandbox& sb) { return Raw(sb, BuildRawZip(Plus(Vk101(), {Stored("PIC_USB.HEX", "x")}))); },
         kNoPackage, "same name as member \"pic_USB.hex\", case aside"},
        {"names: a NUL byte", kVk101,
         [](const Sandbox& sb) {
             return Raw(sb, BuildRawZip(Plus(Vk101(), {Stored(std::string("decoy.txt\0.hex", 14), "x")})));
         },
         kNoPackage, "name holds a NUL byte"},
        {"names: control characters", kVk101,
         [](const Sandbox& sb) {
             return Raw(sb, BuildRawZip(Plus(Vk101(), {Stored("ctl\x01\x1b[2J\r\n\x7f.txt", "x")})));
         },
         kSuccess},
        {"names: 65535 bytes, the last component 300", kVk101,
         [](const Sandbox& sb) {
             return Raw(sb, BuildRawZip(Plus(Vk101(), {Stored(std::string(65234, 'a') + "/" + std::string(300, 'b'), "x")})));
         },
         kNoPackage, "File name too long"},
        {"names: 65535 bytes of folders before the image", kVk101,
         [](const Sandbox& sb) {
             std::string folders;
             while (folders.size() + 12 < 65535 - 20) folders += "../abcdefgh/";
             folders.resize(65535 - 12, 'x');
             return Raw(sb, BuildRawZip(Vk101("Bootload.ini", folders + "/pic_USB.hex")));
         },
         kSuccess},
    };
}

std::vector<Row> PlaceRows() {
    return {
        {"package: a FIFO", kVk101,
         [](const Sandbox& sb) {
             if (mkfifo(sb.package.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
             return sb.package;
         },
         kNoPackage},
        {"package: a folder", kVk101,
         [](const Sandbox& sb) {
             fs::create_directories(sb.package / "Bootload.ini");
             return sb.package;
         },
         kNoPackage},
        {"package: a link to /dev/zero", kVk101,
         [](const Sandbox& sb) {
             fs::create_symlink("/dev/zero", sb.package);
             return sb.package;
         },
         kNoPackage},
    };
}

std::vector<Row> SizeRows() {
    constexpr std::uint64_t kHexLimit = kMaxHexFileSize;
    const std::string overHexLimit = "more than the " + std::to_string(kHexLimit) + " an image file may hold";
    return {
        // A manifest is read up to kIniMaxFileSize and not at all beyond.
        {"manifest: 10 MB, DeviceType in its first lines", kVk101,
         [](const Sandbox& sb) {
             std::string manifest = ManifestText(4);
             while (manifest.size() < 10'000'000) manifest += "; a comment that goes on and on and on and on\r\n";
             return Raw(sb, BuildRawZip({Deflated("Bootload.ini", manifest), Deflated("pic_USB.hex", Vk101Hex())}));
         },
         "Instrument or FWU file is not VK101!"},
        {"manifest: 1 MiB, one line, DeviceType at its end", kVk101,
         [](const Sandbox& sb) {
             std::string manifest(kIniMaxFileSize, ' ');
             const std::string end = "\n[Info]\r\nDeviceType=4\r\n";
             manifest.replace(manifest.size() - end.size(), end.size(), end);
             return Raw(sb, BuildRawZip({Deflated("Bootload.ini", manifest), Deflated("pic_USB.hex", Vk101Hex())}));
         },
         kSuccess},
        {"image: USB.bin of 65,537 bytes", kVelkaro,
         [](const Sandbox& sb) { return Fwu(sb, Replaced(Demo(kDemoVelkaro), "USB.bin", std::string(65537, '\x5A'))); },
         kCorrupted},
        {"image: fpga.bin of 16 MiB + 1", kVelkaro,
         [](const Sandbox& sb) { return Fwu(sb, Replaced(Demo(kDemoVelkaro), "fpga.bin", std::string(16 * kMiB + 1, '\0'))); },
         kCorrupted},
        {"image: fpga.hex of 2^25 + 1 characters", kIrig,
         [](const Sandbox& sb) { return Fwu(sb, Replaced(Demo(kDemoIrig), "fpga.hex", std::string((1u << 25) + 1, '0'))); },
         "Error: ", "holds more than 33554432 characters"},
        // The directory of the largest package accepted, and one just larger.
        {"directory: 1,000 members, 256 KiB of central directory", kVk101,
         [](const Sandbox& sb) {
             std::vector<RawZipMember> members = Vk101();
             const std::size_t others = kMaxPackageMembers - members.size();
             const std::size_t nameLength = (kMaxDirectorySize - members.size() * kCentralHeaderSize - 23) / others -
                                            kCentralHeaderSize;
             for (std::size_t i = 0; i < others; ++i) {
                 std::string name = "m" + std::to_string(i) + "-";
                 members.push_back(Stored(name + std::string(nameLength - name.size(), 'n'), ""));
             }
             return Raw(sb, BuildRawZip(members));
         },
         kSuccess},
        {"directory: 300 members with names of 1,000 bytes", kVk101,
         [](const Sandbox& sb) {
             std::vector<RawZipMember> members = Vk101();
             for (int i = 0; i < 300; ++i) members.push_back(Stored(std::string(1000, 'd') + "/m" + std::to_string(i), ""));
             return Raw(sb, BuildRawZip(members));
         },
         kNoPackage, "headers take more than " + std::to_string(kMaxDirectorySize) + " bytes"},
        // The zip library keeps the local headers' extra fields of the members it lists.
        {"directory: 998 members with local extra fields of 64 KiB", kVk101,
         [](const Sandbox& sb) {
             std::vector<RawZipMember> members = Vk101();
             for (int i = 0; i < 998; ++i) {
                 members.push_back(Stored("m" + std::to_string(i), ""));
                 members.back().extra = LargeExtraField();
             }
             return Raw(sb, BuildRawZip(members));
         },
         kNoPackage, "headers take more than " + std::to_string(kMaxDirectorySize) + " bytes"},
        {"directory: 997 central entries on one header of 64 KiB extra", kVk101,
         [](const Sandbox& sb) {
             RawZipMember shared = Stored("x.bin", "");
             shared.extra = LargeExtraField();
             const std::string one = BuildRawZip(Plus(Vk101(), {shared}));
             const auto at = static_cast<std::uint32_t>(MemberDataOffset(one, "x.bin") - 30 - 5 - shared.extra.size());
             std::string zip = one;
             for (int i = 0; i < 996; ++i) zip = AddCentralEntry(std::move(zip), one, "x.bin", at);
             return Raw(sb, zip);
         },
         kNoPackage, "headers take more than " + std::to_string(kMaxDirectorySize) + " bytes"},
        {"image: pic_USB.hex over 4 MiB", kVk101,
         [kHexLimit](const Sandbox& sb) { return Fwu(sb, Replaced(Demo(kDemoVk101), "pic_USB.hex", HexOver(Vk101Hex(), kHexLimit))); },
         kException, overHexLimit},
        {"image: ulmo_can.hex over 4 MiB", kUlmo,
         [kHexLimit](const Sandbox& sb) {
             return Fwu(sb, Replaced(Demo(kDemoUlmo), "ulmo_can.hex", HexOver(WriteIntelHex(DemoCanImage()), kHexLimit)));
         },
         "Error", overHexLimit},
        {"image: PIC_IEPE.hex over 4 MiB", kZenara,
         [kHexLimit](const Sandbox& sb) {
             const std::vector<FwuMember> demo = Demo(kDemoZenara);
             return Fwu(sb, Replaced(demo, "PIC_IEPE.hex", HexOver(Bytes(demo, "PIC_IEPE.hex"), kHexLimit)));
         },
         kException, overHexLimit},
    };
}

// The few that take seconds.
std::vector<Row> LargeRows() {
    return {
        {"HEX of 10 million lines", kVk101,
         [](const Sandbox& sb) {
             const RepeatedDeflate hex = HexWithDroppedLines(Vk101Hex(), ":0000000000\r\n", 10'000'000);
             return Raw(sb, BuildRawZip({Stored("Bootload.ini", ManifestText(4)), Deflated("pic_USB.hex", hex)}));
         },
         kException, "an image file may hold"},
        {"70,000 members", kVk101,
         [](const Sandbox& sb) {
             std::vector<StreamZipMember> members;
             for (const FwuMember& m : Demo(kDemoVk101)) members.push_back({m.name, m.bytes, true, false});
             for (int i = 0; i < 70'000; ++i) {
                 char name[32];
                 std::snprintf(name, sizeof name, "m%05d.bin", i);
                 members.push_back({name, "", false, false, false, i == 0});  // one zip64 member: zip64 end records
             }
             return Raw(sb, BuildStreamZip(members));
         },
         kNoPackage, "more than " + std::to_string(kMaxPackageMembers) + " members"},
        {"2 GiB non-zip file (sparse)", kVk101,
         [](const Sandbox& sb) {
             WriteFileBytes(sb.package, "This is no archive.\n");
             fs::resize_file(sb.package, 2 * 1024 * kMiB);
             return sb.package;
         },
         kNoPackage, "Error 1 reading Zip File"},
    };
}

TEST(HostileCorpus, Packages) {
    for (const auto& rows : {TraversalRows(), LinkRows(), ArchiveRows(), NameRows(), PlaceRows(), SizeRows()})
        for (const Row& row : rows) RunRow(row, 120);
    PrintTable("Hostile packages");
}

TEST(HostileCorpusLarge, Packages) {
    for (const Row& row : LargeRows()) RunRow(row, 600);
    PrintTable("Hostile packages, large");
}

}  // namespace
}  // namespace rovenza

int main(int argc, char** argv) {
    if (const int status = rovenza::MeasuredRunMain(argc, argv); status >= 0) return status;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
