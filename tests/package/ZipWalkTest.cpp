// The local-header walk that TZipMaster runs when its archive name is set.
#include <gtest/gtest.h>

#include <sstream>

#include "fwu/FwuWriter.h"
#include "package/ZipMstr.h"
#include "support/PackageBytes.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

namespace fs = std::filesystem;

std::string WalkError(const std::string& bytes, std::int64_t declaredSize) {
    std::istringstream in(bytes);
    try {
        ReadLocalHeaders(in, declaredSize);
    } catch (const EZipStreamError& e) {
        return e.what();
    }
    return "no error";
}

std::string WalkError(const std::string& bytes) { return WalkError(bytes, static_cast<std::int64_t>(bytes.size())); }

// A local header whose declared sizes are given, followed by `tail`.
std::string LocalHeaderOnly(std::uint16_t extraLength, std::uint32_t compressedSize, const std::string& tail) {
    RawZipMember m{"m", ""};
    std::string zip = BuildRawZip({m}, false);
    zip.resize(30 + 1);  // signature, fields, name
    PutLe32(zip, 18, compressedSize);
    PutLe16(zip, 28, extraLength);
    return zip + tail;
}

TEST(ZipWalk, StreamErrors) {
    const std::string valid = BuildRawZip({{"a.txt", "hello"}, {"b.txt", "world"}});
    const std::size_t dataOfA = MemberDataOffset(valid, "a.txt");
    // Compressed size of a.txt that makes its data end exactly where the last 22 bytes begin.
    const auto fits = static_cast<std::uint32_t>(valid.size() - 22 - dataOfA);
    std::string reachesEnd = valid;
    PutLe32(reachesEnd, LocalHeaderOffset(valid, "a.txt") + 18, fits + 1);
    std::string hugeSize = valid;
    PutLe32(hugeSize, LocalHeaderOffset(valid, "a.txt") + 18, 0xFFFFFFFFu);
    std::string hugeExtra = valid;
    PutLe16(hugeExtra, LocalHeaderOffset(valid, "a.txt") + 28, 0xFFFF);
    std::string shortName = valid.substr(0, 33);  // header declares 5 name bytes, 3 follow

    const struct {
        const char* what;
        std::string bytes;
        std::int64_t declaredSize;  // -1: the real size
        std::string expected;
    } cases[] = {
        {"zero-length file", "", -1, "Error 1 reading Zip File"},
        {"text file", "This is not an archive at all.\n", -1, "Error 1 reading Zip File"},
        {"signature cut short", "PK\x03", -1, "Error 1 reading Zip File"},
        {"local headers without a central directory", valid.substr(0, MemberDataOffset(valid, "b.txt") + 5) + std::string(30, 'x'),
         -1, "Error 1 reading Zip File"},
        {"local header cut short", valid.substr(0, 20), -1, "Error 2 reading Zip file"},
        {"name cut short", shortName, -1, "Error 2 reading Zip file"},
        {"data reaching into the last 22 bytes", reachesEnd, -1, "Error 3 reading Zip file"},
        {"compressed size 0xFFFFFFFF", hugeSize, -1, "Error 3 reading Zip file"},
        {"extra field 0xFFFF", hugeExtra, -1, "Error 3 reading Zip file"},
        {"extra field past the stream's end", LocalHeaderOnly(100, 0, "xx"), 1000, "Error 4 reading Zip file"},
        {"data past the stream's end", LocalHeaderOnly(0, 100, "xx"), 1000, "Error 5 reading Zip file"},
        {"well-formed archive", valid, -1, "no error"},
    };
    for (const auto& c : cases) {
        const std::int64_t size = c.declaredSize < 0 ? static_cast<std::int64_t>(c.bytes.size()) : c.declaredSize;
        EXPECT_EQ(WalkError(c.bytes, size), c.expected) << c.what;
    }

    std::string exactFit = valid;
    PutLe32(exactFit, LocalHeaderOffset(valid, "a.txt") + 18, fits);
    EXPECT_EQ(WalkError(exactFit), "no error") << "data ending right before the last 22 bytes";
}

TEST(ZipWalk, ScansInFourByteSteps) {
    const std::string end("PK\x05\x06", 4);
    const std::string tail(18, '\0');
    EXPECT_EQ(WalkError("ABCD" + end + tail), "no error");
    EXPECT_EQ(WalkError("ABCDEFGH" + end + tail), "no error");
    // A signature off the four-byte grid is never seen.
    EXPECT_EQ(WalkError("ABC" + end + tail), "Error 1 reading Zip File");
    EXPECT_EQ(WalkError("ABCDEF" + end + tail), "Error 1 reading Zip File");
    // The central directory signature also ends the walk.
    EXPECT_EQ(WalkError("ABCD" + std::string("PK\x01\x02", 4) + tail), "no error");
}

TEST(ZipWalk, ReadsHeaderFieldsAndSkipsExtraFields) {
    RawZipMember first{"first.bin", "0123456789"};
    first.extra = std::string("UT\x05\x00\x01\x10\x20\x30\x40", 9);
    first.flags = 0x0800;
    RawZipMember second{"dir/second.bin", ""};
    const std::string zip = BuildRawZip({first, second});
    std::istringstream in(zip);
    const auto dir = ReadLocalHeaders(in, static_cast<std::int64_t>(zip.size()));

    ASSERT_EQ(dir.size(), 2u);
    EXPECT_EQ(dir[0].FileName, "first.bin");
    EXPECT_EQ(dir[0].FileNameLength, 9);
    EXPECT_EQ(dir[0].ExtraFieldLength, 9);
    EXPECT_EQ(dir[0].Flag, 0x0800);
    EXPECT_EQ(dir[0].VersionNeeded, 20);
    EXPECT_EQ(dir[0].CompressionMethod, 0);
    EXPECT_EQ(dir[0].ModifDate, ((2024 - 1980) << 9) | (1 << 5) | 1);
    EXPECT_EQ(dir[0].CompressedSize, 10u);
    EXPECT_EQ(dir[0].UncompressedSize, 10u);
    EXPECT_EQ(dir[0].CRC32, Crc32(0, "0123456789", 10));
    EXPECT_EQ(dir[1].FileName, "dir/second.bin");
    EXPECT_EQ(dir[1].CompressedSize, 0u);
}

TEST(ZipWalk, SettingTheArchiveName) {
    TempDir tmp;
    const fs::path fwu = tmp.path() / "p.fwu";
    WriteFwu(fwu, {{"Bootload.ini", ManifestText(4)}, {"pic_USB.hex", std::string(5000, 'A')}});

    TZipMaster zip;
    int dirUpdates = 0;
    zip.OnDirUpdate = [&](TZipMaster& sender) {
        EXPECT_EQ(&sender, &zip);
        ++dirUpdates;
    };
    zip.SetZipFilename(fwu);
    EXPECT_EQ(zip.ZipFilename(), fwu);
    ASSERT_EQ(zip.Directory().size(), 2u);
    EXPECT_EQ(zip.Directory()[1].FileName, "pic_USB.hex");
    EXPECT_EQ(zip.Directory()[1].CompressionMethod, 8);
    EXPECT_EQ(zip.Directory()[1].UncompressedSize, 5000u);
    EXPECT_EQ(dirUpdates, 1);

    // A name that does not exist: no error, an empty directory, and no event.
    zip.SetZipFilename(tmp.path() / "missing.fwu");
    EXPECT_TRUE(zip.Directory().empty());
    EXPECT_EQ(dirUpdates, 1);

    // A damaged archive: the error reaches the caller and the directory stays empty.
    WriteFileBytes(tmp.path() / "bad.fwu", "PK\x03\x04 short");
    EXPECT_THROW(zip.SetZipFilename(tmp.path() / "bad.fwu"), EZipStreamError);
    EXPECT_TRUE(zip.Directory().empty());

    // A folder is not an archive.
    EXPECT_THROW(zip.SetZipFilename(tmp.path()), EZipStreamError);
}

}  // namespace
}  // namespace rovenza
