// Unpacking a package into the work folder: names, damage, refusals, the work folder's contents.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PackageTestSupport.h"
#include "fwu/HexWriter.h"

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
    } cases[] = {
        {"deflated data damaged", flipped, "pic_USB.hex"},
        {"wrong CRC", BuildRawZip({{"Bootload.ini", ManifestText(4)}, wrongCrc}), "fpga.bin"},
        {"more data than declared", BuildRawZip({{"Bootload.ini", ManifestText(4)}, tooLong}), "fpga.bin"},
    };
    for (const auto& c : cases) {
        fs::create_directories(work());
        WriteFileBytes(work() / "ulmo_can.hex", "left by an earlier package");
        EXPECT_THAT(ExtractError(RawPackage(c.bytes)), HasSubstr(std::string("Member \"") + c.member + "\"")) << c.what;
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

TEST_F(ExtractionTest, OverwriteAndTheMemberListDecideWhatIsWritten) {
    const auto fwu = Package({{"one/fpga.bin", "first"}, {"two/fpga.bin", "second"}, {"pic_USB.hex", "p"}});
    EXPECT_EQ(Extract(fwu), 3);  // with "overwrite" the later of two same-named members wins
    EXPECT_EQ(ReadFileBytes(work() / "fpga.bin"), "second");

    TZipMaster zip;  // without it the first stays; only the listed members are looked at
    zip.SetZipFilename(fwu);
    zip.ExtrBaseDir = work();
    zip.FSpecArgs = {"one/fpga.bin", "two/fpga.bin"};
    zip.Extract();
    EXPECT_EQ(zip.ExtractedCount(), 1);
    EXPECT_EQ(WorkListing(), Names{"fpga.bin"});
    EXPECT_EQ(ReadFileBytes(work() / "fpga.bin"), "first");
    EXPECT_TRUE(zip.FSpecArgs.empty());
}

}  // namespace
}  // namespace rovenza
