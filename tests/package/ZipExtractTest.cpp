// Unpacking a package into the work folder: names, damage, refusals, the work folder's contents.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>

#include "PackageTestSupport.h"
#include "fwu/HexWriter.h"
#include "support/StreamZip.h"

namespace rovenza {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using Names = std::vector<std::string>;

// About 84 KB of Intel HEX text: more than one read chunk, and deflated into real codes.
const std::string& HexText() {
    static const std::string text = WriteIntelHex(DemoImage(30000, 1));
    return text;
}

TEST_F(ExtractionTest, MembersAreWrittenFlatUnderTheKnownSpelling) {
    const auto fwu = Package({{"BOOTLOAD.INI", ManifestText(4), false},
                              {"images/", ""},
                              {"images/usb/PIC_usb.HEX", HexText()},
                              {"empty.bin", "", false},
                              {"notes\\readme.txt", "read me"},
                              {"FPGA.bin", "b"},
                              {"Other.TXT", "c"}});
    EXPECT_EQ(Extract(fwu), 6);
    EXPECT_EQ(WorkListing(), (Names{"Bootload.ini", "Other.TXT", "empty.bin", "fpga.bin", "pic_USB.hex", "readme.txt"}));
    EXPECT_EQ(ReadFileBytes(work() / "Bootload.ini"), ManifestText(4));
    EXPECT_EQ(ReadFileBytes(work() / "pic_USB.hex"), HexText());
    EXPECT_EQ(ReadFileBytes(work() / "empty.bin"), "");
    EXPECT_FALSE(fs::exists(work() / "images"));
}

TEST_F(ExtractionTest, NamesThatReachOutLandInTheWorkFolder) {
    const char* names[] = {"../x1", "..\\x2", "C:\\x3", "/tmp/x4", "C:x5", "a/b\\..\\x6", "\\\\server\\share\\x7"};
    std::vector<RawZipMember> members;
    for (const char* n : names) members.push_back({n, n});
    EXPECT_EQ(Extract(RawPackage(BuildRawZip(members))), 7);
    EXPECT_EQ(WorkListing(), (Names{"x1", "x2", "x3", "x4", "x5", "x6", "x7"}));
    EXPECT_EQ(ReadFileBytes(work() / "x1"), "../x1");
    EXPECT_EQ(FolderListing(program()), Names{});
    EXPECT_EQ(FolderListing(outside()), Names{"raw.fwu"});
}

TEST_F(ExtractionTest, DamagedMemberLeavesNothingOfItBehind) {
    const std::string deflated = ReadFileBytes(Package({{"Bootload.ini", ManifestText(4)}, {"pic_USB.hex", HexText()}}));
    std::string flipped = deflated;
    flipped[MemberDataOffset(deflated, "pic_USB.hex") + 2000] ^= 0x55;
    RawZipMember wrongCrc{"fpga.bin", std::string(4000, 'F')};
    wrongCrc.crc = 0x12345678;
    RawZipMember tooLong{"fpga.bin", std::string(4000, 'F')};
    tooLong.uncompressedSize = 1000;

    const struct {
        const char* what;
        std::string bytes;
        const char* member;
        const char* reason;
    } cases[] = {
        {"deflated data damaged", flipped, "pic_USB.hex", ""},
        {"wrong CRC", BuildRawZip({{"Bootload.ini", ManifestText(4)}, wrongCrc}), "fpga.bin", "CRC error"},
        {"more data than declared", BuildRawZip({{"Bootload.ini", ManifestText(4)}, tooLong}), "fpga.bin",
         "holds more data than its declared size"},
    };
    for (const auto& c : cases) {
        fs::create_directories(work());
        WriteFileBytes(work() / "ulmo_can.hex", "left by an earlier package");
        EXPECT_THAT(ExtractError(RawPackage(c.bytes)), HasSubstr(std::string("Member \"") + c.member + "\": " + c.reason))
            << c.what;
        // The earlier package's file went first; the damaged member left no file, whole or partial.
        EXPECT_EQ(WorkListing(), Names{"Bootload.ini"}) << c.what;
    }
}

// Refused archives and members fail the extraction before anything is written.
TEST_F(ExtractionTest, ArchivesAndMembersThatCannotBeExtracted) {
    const auto afterManifest = [](RawZipMember m) { return BuildRawZip({{"Bootload.ini", ManifestText(4)}, m}); };
    RawZipMember encrypted{"pic_USB.hex", "scrambled"};
    encrypted.flags = 0x0001;
    RawZipMember unknownMethod{"pic_USB.hex", "abc"};
    unknownMethod.method = 77;
    RawZipMember oversized{"fpga.bin", std::string(1000, 'x')};
    oversized.uncompressedSize = static_cast<std::uint32_t>(kMaxMemberSize) + 1;
    RawZipMember half{"a.bin", "x"};
    half.uncompressedSize = static_cast<std::uint32_t>(kMaxMemberSize / 2) + 1;
    RawZipMember otherHalf = half;
    otherHalf.name = "b.bin";
    // A member whose data holds another's local header: the walk steps over it, the central
    // directory lists it.
    const std::string inner = BuildRawZip({{"pic_USB.hex", "p"}});
    const std::string covering =
        afterManifest({"cover.bin", inner.substr(0, CentralHeaderOffset(inner, "pic_USB.hex"))});
    const std::string hidden = AddCentralEntry(covering, inner, "pic_USB.hex",
                                               static_cast<std::uint32_t>(MemberDataOffset(covering, "cover.bin")));
    const struct {
        std::string bytes;
        const char* reason;
    } cases[] = {
        {afterManifest({".", "x"}), "Member \".\": file name \".\" is not allowed"},
        {afterManifest({"..", "x"}), "Member \"..\": file name \"..\" is not allowed"},
        {afterManifest({"a/..", "x"}), "not allowed"},
        {afterManifest({"a\\.", "x"}), "not allowed"},
        {afterManifest({"C:", "x"}), "Member \"C:\": empty file name"},
        {afterManifest({std::string("pic\0.hex", 8), "x"}), "Member \"pic\\0.hex\": name holds a NUL byte"},
        {afterManifest(encrypted), "Member \"pic_USB.hex\": encrypted"},
        {afterManifest(unknownMethod), "Member \"pic_USB.hex\": compression method 77"},
        {afterManifest(oversized), "Member \"fpga.bin\": declared size 268435457 exceeds"},
        {BuildRawZip({{"fpga.bin", "a"}, {"fpga.bin", "b"}}), "same name"},
        {BuildRawZip({half, otherHalf}), "declared sizes add up to more than 268435456 bytes"},
        {hidden, "The central directory lists 3 members, the local headers 2"},
        // Passes the walk (an end record four bytes in), but no zip reader takes it.
        {"JUNK" + std::string("PK\x05\x06", 4) + std::string(18, '\x7F'), "Cannot open the archive"},
    };
    for (const auto& c : cases) {
        EXPECT_THAT(ExtractError(RawPackage(c.bytes)), HasSubstr(c.reason));
        if (fs::exists(work())) {
            EXPECT_EQ(WorkListing(), Names{}) << c.reason;
        }
    }
    EXPECT_THAT(ExtractError(outside() / "missing.fwu"), HasSubstr("does not exist"));
    EXPECT_THAT(ExtractError({}), HasSubstr("No archive"));
}

TEST_F(ExtractionTest, EarlierFilesAndLinksAreRemovedNotFollowed) {
    const fs::path target = outside() / "precious.txt";
    WriteFileBytes(target, "must stay");
    fs::create_directories(work() / "subfolder");
    WriteFileBytes(work() / "subfolder" / "kept.txt", "folders are left alone");
    WriteFileBytes(work() / "pic_USB.hex", "old image");
    std::error_code ec;
    fs::create_symlink(target, work() / "Bootload.ini", ec);
    if (ec) GTEST_SKIP() << "links cannot be made here: " << ec.message();
    fs::create_symlink(target, work() / "fpga.bin");
    fs::create_symlink(outside() / "nowhere", work() / "dangling");

    // A package with only a manifest: nothing of the earlier package may pass for part of it.
    EXPECT_EQ(Extract(Package({{"Bootload.ini", ManifestText(4)}})), 1);
    EXPECT_EQ(WorkListing(), Names{"Bootload.ini"});
    EXPECT_FALSE(fs::is_symlink(work() / "Bootload.ini"));
    EXPECT_EQ(ReadFileBytes(work() / "Bootload.ini"), ManifestText(4));
    EXPECT_EQ(ReadFileBytes(target), "must stay");
    EXPECT_FALSE(fs::exists(outside() / "nowhere"));
    EXPECT_EQ(ReadFileBytes(work() / "subfolder" / "kept.txt"), "folders are left alone");
}

TEST_F(ExtractionTest, AnArchiveInTheWorkFolderIsRefusedNotRemoved) {
    fs::create_directories(work());
    const std::string bytes = BuildRawZip({{"Bootload.ini", ManifestText(4)}});
    WriteFileBytes(work() / "p.fwu", bytes);
    EXPECT_THAT(ExtractError(work() / "p.fwu"), HasSubstr("lies in the work folder"));
    EXPECT_EQ(WorkListing(), Names{"p.fwu"});
    EXPECT_EQ(ReadFileBytes(work() / "p.fwu"), bytes);
}

// More earlier files than the extraction removes in one batch (1024): an archive among them,
// wherever the listing meets it, refuses the extraction before any goes; otherwise all go.
TEST_F(ExtractionTest, AWorkFolderOfManyEarlierFiles) {
    fs::create_directories(work());
    for (int i = 0; i < 1100; ++i) WriteFileBytes(work() / ("old" + std::to_string(i)), "x");
    WriteFileBytes(work() / "p.fwu", BuildRawZip({{"Bootload.ini", ManifestText(4)}}));
    EXPECT_THAT(ExtractError(work() / "p.fwu"), HasSubstr("lies in the work folder"));
    EXPECT_EQ(WorkListing().size(), 1101u);

    EXPECT_EQ(Extract(Package({{"Bootload.ini", ManifestText(4)}})), 1);
    EXPECT_EQ(WorkListing(), Names{"Bootload.ini"});
}

TEST_F(ExtractionTest, WorkFolderIsCreatedOrTheExtractionFails) {
    const fs::path cwd = fs::current_path();
    TZipMaster zip;
    Prepare(zip, Package({{"Bootload.ini", ManifestText(4)}}), outside() / "a" / "b" / "Temp");
    zip.Extract();
    EXPECT_TRUE(fs::is_regular_file(outside() / "a" / "b" / "Temp" / "Bootload.ini"));
    WriteFileBytes(outside() / "plainfile", "x");
    for (const fs::path& base : {outside() / "plainfile" / "Temp", fs::path{}}) {  // blocked by a file; none given
        zip.ExtrBaseDir = base;
        EXPECT_THROW(zip.Extract(), EZipExtractError) << base;
    }
    EXPECT_EQ(fs::current_path(), cwd);
}

TEST_F(ExtractionTest, TheMemberListDecidesWhatIsWritten) {
    const auto fwu = Package({{"one/fpga.bin", "first"}, {"two/fpga.bin", "second"}, {"pic_USB.hex", "p"}});
    EXPECT_THAT(ExtractError(fwu), HasSubstr("Member \"two/fpga.bin\": same name as member \"one/fpga.bin\""));

    TZipMaster zip;  // only the listed members are looked at
    Prepare(zip, fwu, work());
    zip.FSpecArgs = {"two/fpga.bin", "pic_USB.hex"};
    zip.Extract();
    EXPECT_EQ(zip.ExtractedCount(), 2);
    EXPECT_EQ(WorkListing(), (Names{"fpga.bin", "pic_USB.hex"}));
    EXPECT_EQ(ReadFileBytes(work() / "fpga.bin"), "second");
    EXPECT_TRUE(zip.FSpecArgs.empty());
}

// Names that Windows would take for a drive, a stream, a device or a shortened name, and two
// members on one name: the package is refused before anything is touched, in the work folder or
// anywhere else (also where a drive-relative name would have led).
TEST_F(ExtractionTest, RefusedNamesChangeNothingAnywhere) {
    const struct {
        Names members;
        const char* reason;
    } cases[] = {
        {{"sub/D:evil.dll"}, "Member \"sub/D:evil.dll\": file name \"D:evil.dll\" holds a ':'"},
        {{"sub/a:b"}, "file name \"a:b\" holds a ':'"},
        {{"ab:c"}, "file name \"ab:c\" holds a ':'"},
        {{"C:D:evil.dll"}, "file name \"D:evil.dll\" holds a ':'"},  // only one drive prefix goes
        {{"trailingdot."}, "file name \"trailingdot.\" ends in a dot or a blank"},
        {{"blank "}, "file name \"blank \" ends in a dot or a blank"},
        {{"CON"}, "file name \"CON\" is a device name"},
        {{"nul.hex"}, "file name \"nul.hex\" is a device name"},
        {{"LPT9.ini"}, "file name \"LPT9.ini\" is a device name"},
        {{"com1"}, "file name \"com1\" is a device name"},
        {{"x/Com1.hex"}, "file name \"Com1.hex\" is a device name"},
        {{"x\\prn.tar.gz"}, "file name \"prn.tar.gz\" is a device name"},
        {{"aux .txt"}, "file name \"aux .txt\" is a device name"},
        {{"pic_USB.hex", "PIC_USB.HEX"}, "Member \"PIC_USB.HEX\": same name as member \"pic_USB.hex\""},
        {{"PIC_USB.HEX", "pic_USB.hex"}, "Member \"pic_USB.hex\": same name as member \"PIC_USB.HEX\""},
        {{"a/Notes.txt", "b\\NOTES.TXT"}, "Member \"b\\NOTES.TXT\": same name as member \"a/Notes.txt\""},
        {{"sub/D:evil.dll", "CON", "LPT1.dll"}, "Member \"sub/D:evil.dll\""},
    };
    for (const auto& c : cases) {
        fs::create_directories(work());
        WriteFileBytes(work() / "ulmo_can.hex", "left by an earlier package");
        std::vector<FwuMember> members{{"Bootload.ini", ManifestText(4)}, {"C:\\evil.dll", "reaches for a drive"}};
        for (const std::string& name : c.members) members.push_back({name, "refused " + name});
        EXPECT_THAT(ExtractError(Package(members)), HasSubstr(c.reason));
        EXPECT_EQ(WorkListing(), Names{"ulmo_can.hex"}) << c.reason;
        EXPECT_EQ(FolderListing(program()), Names{}) << c.reason;
        EXPECT_EQ(FolderListing(outside()), Names{"p.fwu"}) << c.reason;
        for (const std::string& name : c.members) {
            const std::string last = name.substr(name.find_last_of("/\\") + 1);
            // Relative to the current folder (on Windows, to that drive's current folder).
            if (last.find(':') != std::string::npos) {
                std::error_code ec;
                EXPECT_FALSE(fs::exists(fs::path(last), ec)) << last;
            }
        }
    }

    // Names that only look like the refused ones are extracted.
    EXPECT_EQ(Extract(Package({{"Bootload.ini", ManifestText(4)}, {"C:\\evil.dll", "e"}, {"console.txt", "c"},
                               {"COM10", "c"}, {"LPT.ini", "l"}, {"nul_file.hex", "n"}, {"auxiliary.tar.gz", "a"},
                               {"a.b c", "d"}, {"dir/x.y", "x"}})),
              9);
    EXPECT_EQ(WorkListing(), (Names{"Bootload.ini", "COM10", "LPT.ini", "a.b c", "auxiliary.tar.gz", "console.txt",
                                    "evil.dll", "nul_file.hex", "x.y"}));
    EXPECT_EQ(FolderListing(outside()), Names{"p.fwu"});
}

// The work folder must be a folder itself: in place of a link (even to a folder) or of a file,
// the extraction fails, and nothing is removed or written, there or where the link leads.
TEST_F(ExtractionTest, WorkFolderThatIsALinkOrAFileIsRefused) {
    const fs::path elsewhere = outside() / "elsewhere";
    fs::create_directories(elsewhere);
    WriteFileBytes(elsewhere / "user.txt", "the user's file");
    fs::create_directories(program());
    const auto fwu = Package({{"Bootload.ini", ManifestText(4)}, {"pic_USB.hex", "p"}});

    const struct {
        const char* what;
        std::function<void(std::error_code&)> make;
    } cases[] = {
        {"a link to a folder", [&](std::error_code& ec) { fs::create_directory_symlink(elsewhere, work(), ec); }},
        {"a link to a file", [&](std::error_code& ec) { fs::create_symlink(elsewhere / "user.txt", work(), ec); }},
        {"a dangling link", [&](std::error_code& ec) { fs::create_symlink(outside() / "nowhere", work(), ec); }},
        {"a file", [&](std::error_code&) { WriteFileBytes(work(), "a file called Temp"); }},
    };
    for (const auto& c : cases) {
        std::error_code ec;
        c.make(ec);
        if (ec) {
            std::cout << "skipped " << c.what << ": " << ec.message() << "\n";  // links need rights on Windows
            continue;
        }
        const fs::file_type before = fs::symlink_status(work()).type();
        for (const fs::path& base : {work(), work() / ""}) {  // also named with a trailing separator
            TZipMaster zip;
            Prepare(zip, fwu, base);
            try {
                zip.Extract();
                ADD_FAILURE() << c.what << ": no error";
            } catch (const EZipExtractError& e) {
                EXPECT_THAT(e.what(), HasSubstr("is a link or not a folder")) << c.what;
            }
        }
        EXPECT_EQ(FolderListing(elsewhere), Names{"user.txt"}) << c.what;
        EXPECT_EQ(ReadFileBytes(elsewhere / "user.txt"), "the user's file") << c.what;
        EXPECT_EQ(FolderListing(program()), Names{"Temp"}) << c.what;
        EXPECT_EQ(fs::symlink_status(work()).type(), before) << c.what;
        EXPECT_EQ(FolderListing(outside()), Names{"p.fwu"}) << c.what;
        fs::remove(work());
    }
}

// Archives as a zip writer makes them on a stream it cannot seek back in, and zip64 members,
// pass the walk and are extracted byte for byte (so the zip library takes them too).
TEST_F(ExtractionTest, StreamedAndZip64MembersAreExtracted) {
    for (const StreamZipSample& sample : StreamZipSamples()) {
        Names expected;
        for (const StreamZipMember& m : sample.members) expected.push_back(m.name);
        std::sort(expected.begin(), expected.end());
        try {
            EXPECT_EQ(Extract(RawPackage(BuildStreamZip(sample.members))), static_cast<int>(expected.size()))
                << sample.what;
        } catch (const std::exception& e) {
            ADD_FAILURE() << sample.what << ": " << e.what();
            continue;
        }
        EXPECT_EQ(WorkListing(), expected) << sample.what;
        for (const StreamZipMember& m : sample.members)
            EXPECT_EQ(ReadFileBytes(work() / m.name), m.data) << sample.what << ", " << m.name;
    }
}

}  // namespace
}  // namespace rovenza
