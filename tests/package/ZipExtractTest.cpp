// Unpacking a package into the work folder: names, damage, the work folder's contents.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PackageTestSupport.h"
#include "fwu/DemoPackage.h"

namespace rovenza {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

TEST_F(ExtractionTest, DemoPackagesArriveByteForByte) {
    for (std::string_view family : {kDemoVk101, kDemoIrig, kDemoUlmo}) {
        const auto members = DemoPackageMembers(family);
        ASSERT_TRUE(members) << family;
        EXPECT_EQ(Extract(Package(*members, std::string(family) + ".fwu")), static_cast<std::int32_t>(members->size()));
        std::vector<std::string> expected;
        for (const FwuMember& m : *members) {
            expected.push_back(m.name);
            EXPECT_EQ(ReadFileBytes(work() / m.name), m.bytes) << family << " " << m.name;
        }
        std::sort(expected.begin(), expected.end());
        // Only this package's files: the previous family's are gone.
        EXPECT_EQ(WorkListing(), expected) << family;
    }
}

TEST_F(ExtractionTest, StoredEmptyAndFolderMembersAreWrittenFlat) {
    const auto fwu = Package({{"Bootload.ini", ManifestText(4), false},
                              {"images/", ""},
                              {"images/usb/pic_USB.hex", ":00000001FF\r\n"},
                              {"empty.bin", "", false},
                              {"notes\\readme.txt", "read me"}});
    EXPECT_EQ(Extract(fwu), 4);
    EXPECT_EQ(WorkListing(), (std::vector<std::string>{"Bootload.ini", "empty.bin", "pic_USB.hex", "readme.txt"}));
    EXPECT_EQ(ReadFileBytes(work() / "empty.bin"), "");
    EXPECT_EQ(ReadFileBytes(work() / "pic_USB.hex"), ":00000001FF\r\n");
    EXPECT_FALSE(fs::exists(work() / "images"));
}

TEST_F(ExtractionTest, NamesThatReachOutLandInTheWorkFolder) {
    const char* names[] = {"../x1", "..\\x2", "C:\\x3", "/tmp/x4", "C:x5", "a/b\\..\\x6", "\\\\server\\share\\x7"};
    std::vector<RawZipMember> members;
    for (const char* n : names) members.push_back({n, n});
    const auto fwu = RawPackage(BuildRawZip(members));
    EXPECT_EQ(Extract(fwu), 7);
    EXPECT_EQ(WorkListing(), (std::vector<std::string>{"x1", "x2", "x3", "x4", "x5", "x6", "x7"}));
    EXPECT_EQ(ReadFileBytes(work() / "x1"), "../x1");
    EXPECT_EQ(FolderListing(program()), std::vector<std::string>{});
    EXPECT_EQ(FolderListing(outside()), std::vector<std::string>{"raw.fwu"});
}

TEST_F(ExtractionTest, RefusedNamesFailBeforeAnythingIsWritten) {
    const struct {
        std::string name;
        const char* reason;
    } cases[] = {
        {".", "not allowed"},   {"..", "not allowed"}, {"a/..", "not allowed"}, {"a\\.", "not allowed"},
        {"C:", "empty file name"}, {std::string("pic\0.hex", 8), "NUL"},
    };
    for (const auto& c : cases) {
        const auto fwu = RawPackage(BuildRawZip({{"Bootload.ini", ManifestText(4)}, {c.name, "data"}}));
        const std::string error = ExtractError(fwu);
        EXPECT_THAT(error, HasSubstr("Member \"")) << c.reason;
        EXPECT_THAT(error, HasSubstr(c.reason));
        if (fs::exists(work())) {
            EXPECT_EQ(WorkListing(), std::vector<std::string>{}) << c.reason;
        }
    }
}

TEST_F(ExtractionTest, KnownNamesTakeTheirTableSpelling) {
    const auto fwu = Package({{"BOOTLOAD.INI", ManifestText(3)},
                              {"Firmware/PIC_usb.HEX", "a"},
                              {"FPGA.bin", "b"},
                              {"usb.BIN", "c"},
                              {"pic_iepe_cnt.hex", "d"},
                              {"Other.TXT", "e"}});
    EXPECT_EQ(Extract(fwu), 6);
    EXPECT_EQ(WorkListing(), (std::vector<std::string>{"Bootload.ini", "Other.TXT", "PIC_IEPE_CNT.hex", "USB.bin",
                                                       "fpga.bin", "pic_USB.hex"}));
}

TEST_F(ExtractionTest, DamagedMemberLeavesNothingOfItBehind) {
    const std::string big = std::string(DemoPackageMembers(kDemoVk101)->at(1).bytes);
    const auto good = Package({{"Bootload.ini", ManifestText(4)}, {"pic_USB.hex", big}}, "good.fwu");
    const std::string bytes = ReadFileBytes(good);

    std::string deflateFlipped = bytes;
    deflateFlipped[MemberDataOffset(bytes, "pic_USB.hex") + 2000] ^= 0x55;

    const std::string stored = BuildRawZip({{"Bootload.ini", ManifestText(4)}, {"fpga.bin", std::string(4000, 'F')}});
    std::string storedFlipped = stored;
    storedFlipped[MemberDataOffset(stored, "fpga.bin") + 100] ^= 0x01;

    std::string wrongCrc = stored;  // consistent headers, wrong checksum in both
    PutLe32(wrongCrc, LocalHeaderOffset(stored, "fpga.bin") + 14, 0x12345678);
    PutLe32(wrongCrc, CentralHeaderOffset(stored, "fpga.bin") + 16, 0x12345678);

    std::string tooMuchData = bytes;  // the member inflates to more than it declares
    PutLe32(tooMuchData, LocalHeaderOffset(bytes, "pic_USB.hex") + 22, 1000);
    PutLe32(tooMuchData, CentralHeaderOffset(bytes, "pic_USB.hex") + 24, 1000);

    const struct {
        const char* what;
        std::string bytes;
        const char* member;
    } cases[] = {
        {"deflated data damaged", deflateFlipped, "pic_USB.hex"},
        {"stored data damaged", storedFlipped, "fpga.bin"},
        {"wrong CRC", wrongCrc, "fpga.bin"},
        {"more data than declared", tooMuchData, "pic_USB.hex"},
    };
    for (const auto& c : cases) {
        fs::create_directories(work());
        WriteFileBytes(work() / "ulmo_can.hex", "left by an earlier package");
        const std::string error = ExtractError(RawPackage(c.bytes));
        EXPECT_THAT(error, HasSubstr(std::string("Member \"") + c.member + "\"")) << c.what;
        // The earlier package's file went first; the damaged member left no file, whole or partial.
        EXPECT_EQ(WorkListing(), std::vector<std::string>{"Bootload.ini"}) << c.what;
    }
}

TEST_F(ExtractionTest, OversizedDeclaredSizeIsRefused) {
    const auto fwu = Package({{"Bootload.ini", ManifestText(3)}, {"fpga.bin", std::string(1000, 'x')}});
    std::string bytes = ReadFileBytes(fwu);
    const std::uint32_t declared = static_cast<std::uint32_t>(kMaxMemberSize) + 1;
    PutLe32(bytes, LocalHeaderOffset(bytes, "fpga.bin") + 22, declared);
    PutLe32(bytes, CentralHeaderOffset(bytes, "fpga.bin") + 24, declared);
    const std::string error = ExtractError(RawPackage(bytes));
    EXPECT_THAT(error, HasSubstr("Member \"fpga.bin\""));
    EXPECT_THAT(error, HasSubstr("exceeds"));
}

TEST_F(ExtractionTest, EarlierFilesAndLinksAreRemovedNotFollowed) {
    const fs::path target = outside() / "precious.txt";
    WriteFileBytes(target, "must stay");
    fs::create_directories(work() / "subfolder");
    WriteFileBytes(work() / "subfolder" / "kept.txt", "folders are left alone");
    WriteFileBytes(work() / "pic_USB.hex", "old image");
    WriteFileBytes(work() / "USB.bin", "old binary");
    std::error_code ec;
    fs::create_symlink(target, work() / "Bootload.ini", ec);
    if (ec) GTEST_SKIP() << "links cannot be made here: " << ec.message();
    fs::create_symlink(target, work() / "fpga.bin");
    fs::create_symlink(outside() / "nowhere", work() / "dangling");

    // A package with only a manifest: nothing of the earlier package may pass for part of it.
    EXPECT_EQ(Extract(Package({{"Bootload.ini", ManifestText(4)}})), 1);
    EXPECT_EQ(WorkListing(), std::vector<std::string>{"Bootload.ini"});
    EXPECT_FALSE(fs::is_symlink(work() / "Bootload.ini"));
    EXPECT_EQ(ReadFileBytes(work() / "Bootload.ini"), ManifestText(4));
    EXPECT_EQ(ReadFileBytes(target), "must stay");
    EXPECT_FALSE(fs::exists(outside() / "nowhere"));
    EXPECT_EQ(ReadFileBytes(work() / "subfolder" / "kept.txt"), "folders are left alone");
}

TEST_F(ExtractionTest, WorkFolderIsCreatedOrTheExtractionFails) {
    const auto fwu = Package({{"Bootload.ini", ManifestText(4)}});
    const fs::path cwd = fs::current_path();

    TZipMaster zip;
    Prepare(zip, fwu, outside() / "a" / "b" / "Temp");
    zip.Extract();
    EXPECT_TRUE(fs::is_regular_file(outside() / "a" / "b" / "Temp" / "Bootload.ini"));
    EXPECT_EQ(fs::current_path(), cwd);

    TZipMaster trailing;  // given with the separator at the end, as "...\Temp\" is
    Prepare(trailing, fwu, outside() / "c" / "Temp" / "");
    trailing.Extract();
    EXPECT_TRUE(fs::is_regular_file(outside() / "c" / "Temp" / "Bootload.ini"));

    WriteFileBytes(outside() / "plainfile", "x");
    TZipMaster blocked;
    Prepare(blocked, fwu, outside() / "plainfile" / "Temp");
    EXPECT_THROW(blocked.Extract(), EZipExtractError);

    TZipMaster noBase;
    noBase.SetZipFilename(fwu);
    EXPECT_THROW(noBase.Extract(), EZipExtractError);
    EXPECT_EQ(fs::current_path(), cwd);
}

TEST_F(ExtractionTest, ArchiveThatIsMissingOrNotAZip) {
    EXPECT_THAT(ExtractError(outside() / "missing.fwu"), HasSubstr("does not exist"));
    TZipMaster unnamed;
    unnamed.ExtrBaseDir = work();
    EXPECT_THROW(unnamed.Extract(), EZipExtractError);
    // Passes the walk (an end record four bytes in) but is no archive a zip reader accepts.
    const auto fake = RawPackage("JUNK" + std::string("PK\x05\x06", 4) + std::string(18, '\x7F'));
    EXPECT_THAT(ExtractError(fake), HasSubstr("Cannot open the archive"));
}

TEST_F(ExtractionTest, MembersThatCannotBeReadFailTheExtraction) {
    RawZipMember encrypted{"pic_USB.hex", "scrambled"};
    encrypted.flags = 0x0001;
    RawZipMember unknownMethod{"pic_USB.hex", "abc"};
    unknownMethod.method = 77;
    const struct {
        const char* what;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"two members of one name", BuildRawZip({{"fpga.bin", "a"}, {"fpga.bin", "b"}}), "same name"},
        {"encrypted member", BuildRawZip({encrypted}), "encrypted"},
        {"unknown compression method", BuildRawZip({unknownMethod}), "not supported"},
    };
    for (const auto& c : cases) EXPECT_THAT(ExtractError(RawPackage(c.bytes)), HasSubstr(c.reason)) << c.what;
}

TEST_F(ExtractionTest, OverwriteOptionDecidesBetweenSameNamedMembers) {
    const auto fwu = Package({{"one/fpga.bin", "first"}, {"two/fpga.bin", "second"}});
    EXPECT_EQ(Extract(fwu), 2);
    EXPECT_EQ(ReadFileBytes(work() / "fpga.bin"), "second");

    TZipMaster keep;
    keep.SetZipFilename(fwu);
    keep.ExtrBaseDir = work();
    keep.Extract();
    EXPECT_EQ(keep.ExtractedCount(), 1);
    EXPECT_EQ(ReadFileBytes(work() / "fpga.bin"), "first");
}

TEST_F(ExtractionTest, MemberListSelectsAndIsClearedAfterwards) {
    const auto fwu = Package({{"Bootload.ini", ManifestText(1)}, {"pic_USB.hex", "p"}, {"fpga.hex", "f"}});
    TZipMaster zip;
    Prepare(zip, fwu, work());
    zip.FSpecArgs = {"fpga.hex"};
    zip.Extract();
    EXPECT_EQ(zip.ExtractedCount(), 1);
    EXPECT_EQ(WorkListing(), std::vector<std::string>{"fpga.hex"});
    EXPECT_TRUE(zip.FSpecArgs.empty());
}

}  // namespace
}  // namespace rovenza
