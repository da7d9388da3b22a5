// The local-header walk that TZipMaster runs when its archive name is set.
#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "package/ZipMstr.h"
#include "support/PackageBytes.h"
#include "support/StreamZip.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

// Where the first local header keeps the compressed size and the extra field's length.
constexpr std::size_t kCompressedSizeAt = 18;
constexpr std::size_t kExtraLengthAt = 28;

// An extra field of `length` bytes: one field of an unknown id.
std::string ExtraField(std::size_t length) {
    std::string field("\x99\x99\0\0", 4);
    PutLe16(field, 2, static_cast<std::uint16_t>(length - 4));
    return field + std::string(length - 4, 'e');
}

std::string WalkError(const std::string& bytes, std::int64_t fileSize = -1) {
    std::istringstream in(bytes);
    try {
        ReadLocalHeaders(in, fileSize < 0 ? static_cast<std::int64_t>(bytes.size()) : fileSize);
    } catch (const EZipStreamError& e) {
        return e.what();
    } catch (const EZipTooLargeError& e) {
        return e.what();
    }
    return "no error";
}

TEST(ZipWalk, StreamErrorsAndTheFourByteScan) {
    const std::string valid = BuildRawZip({{"a.txt", "hello"}, {"b.txt", "world"}});
    const auto patched = [](std::string bytes, std::size_t at, std::uint32_t value, bool wide) {
        if (wide) PutLe32(bytes, at, value);
        else PutLe16(bytes, at, static_cast<std::uint16_t>(value));
        return bytes;
    };
    // The compressed size of a.txt that makes its data end exactly where the last 22 bytes begin.
    const auto fits = static_cast<std::uint32_t>(valid.size() - 22 - MemberDataOffset(valid, "a.txt"));
    // a.txt's local header alone, with two bytes after it, in a stream said to hold 1000 bytes.
    const std::string lone = valid.substr(0, 35) + "xx";
    const std::string end = std::string("PK\x05\x06", 4) + std::string(18, '\0');
    // One streamed member, and one zip64 member, of five stored bytes.
    const std::string streamed = BuildStreamZip({{"a.txt", "hello", false}});
    const std::size_t streamedCentral = streamed.find(std::string("PK\x01\x02", 4));
    const std::string zip64 = BuildStreamZip({{"a.txt", "hello", false, false, false, true}});
    const std::size_t zip64CompressedAt = 30 + 5 + 4 + 8;  // header, name, field id and size, uncompressed size

    const struct {
        const char* what;
        std::string bytes;
        std::int64_t fileSize;  // -1: the real size
        std::string expected;
    } cases[] = {
        {"zero-length file", "", -1, "Error 1 reading Zip File"},
        {"not a zip", "This is not an archive at all.\n", -1, "Error 1 reading Zip File"},
        {"end signature off the four-byte grid", "ABC" + end, -1, "Error 1 reading Zip File"},
        {"end signature on the four-byte grid", "ABCDEFGH" + end, -1, "no error"},
        {"central signature ends the walk", "ABCD" + std::string("PK\x01\x02", 4) + std::string(18, '\0'), -1,
         "no error"},
        {"local headers without a central directory",
         valid.substr(0, MemberDataOffset(valid, "b.txt") + 5) + std::string(30, 'x'), -1, "Error 1 reading Zip File"},
        {"local header cut short", valid.substr(0, 20), -1, "Error 2 reading Zip file"},
        {"name cut short", valid.substr(0, 33), -1, "Error 2 reading Zip file"},
        {"data reaching into the last 22 bytes", patched(valid, kCompressedSizeAt, fits + 1, true), -1,
         "Error 3 reading Zip file"},
        {"data ending right before the last 22 bytes", patched(valid, kCompressedSizeAt, fits, true), -1, "no error"},
        {"compressed size 0xFFFFFFFF without a zip64 field", patched(valid, kCompressedSizeAt, 0xFFFFFFFFu, true), -1,
         "Error 3 reading Zip file"},
        {"streamed member, the directory's size fitting", streamed, -1, "no error"},
        {"streamed member, the directory's size reaching into the last 22 bytes",
         patched(streamed, streamedCentral + 20, static_cast<std::uint32_t>(streamed.size()), true), -1,
         "Error 3 reading Zip file"},
        {"zip64 member, the zip64 size fitting", zip64, -1, "no error"},
        {"zip64 member, the zip64 size reaching into the last 22 bytes",
         patched(zip64, zip64CompressedAt, static_cast<std::uint32_t>(zip64.size()), true), -1,
         "Error 3 reading Zip file"},
        {"zip64 member, a zip64 size near 2^64",
         patched(patched(zip64, zip64CompressedAt, 0xFFFFFFF0u, true), zip64CompressedAt + 4, 0xFFFFFFFFu, true), -1,
         "Error 3 reading Zip file"},
        {"zip64 member, the zip64 field only in the central directory", patched(zip64, 30 + 5, 0x9999, false), -1,
         "no error"},
        {"extra field 0xFFFF", patched(valid, kExtraLengthAt, 0xFFFF, false), -1, "Error 3 reading Zip file"},
        {"extra field past the stream's end", patched(lone, kExtraLengthAt, 100, false), 1000, "Error 4 reading Zip file"},
        {"data past the stream's end", patched(lone, kCompressedSizeAt, 100, true), 1000, "Error 5 reading Zip file"},
        {"well-formed archive", valid, -1, "no error"},
    };
    for (const auto& c : cases) EXPECT_EQ(WalkError(c.bytes, c.fileSize), c.expected) << c.what;
}

// What the zip library would hold of an archive (its central directory, the names and extra
// fields of the local headers), and what the walk holds, stay within a package's limits; the
// walk refuses more.
TEST(ZipWalk, ArchivesLargerThanAPackage) {
    const auto empties = [](std::size_t count, std::size_t nameLength, std::size_t extraLength = 0) {
        std::vector<RawZipMember> members;
        for (std::size_t i = 0; i < count; ++i) {
            const std::string number = std::to_string(i) + "-";
            members.push_back({number + std::string(nameLength - number.size(), 'n'), ""});
            if (extraLength > 0) members.back().extra = ExtraField(extraLength);
        }
        return BuildRawZip(members);
    };
    // Five central entries on one local header: the zip library reads that header five times.
    const std::string one = empties(1, 8, 60'000);
    std::string shared = one;
    for (int i = 0; i < 4; ++i) shared = AddCentralEntry(shared, one, "0-nnnnnn", 0);
    const auto withoutEnd = [](std::string bytes) { return bytes.substr(0, bytes.size() - 22); };
    const auto patched = [](std::string bytes, std::size_t at, std::uint32_t value) {
        PutLe32(bytes, at, value);
        return bytes;
    };
    const std::string valid = BuildRawZip({{"a.txt", "hello"}, {"b.txt", "world"}});
    const std::size_t end = valid.size() - 22;
    const std::string zip64 = BuildStreamZip({{"a.txt", "hello", false, false, false, true}});
    const std::size_t zip64End = zip64.rfind(std::string("PK\x06\x06", 4));
    const std::string members = "The archive holds more than 1000 members, more than a package may hold";
    const std::string headers = "The archive's headers take more than 262144 bytes, more than a package's may take";

    const struct {
        const char* what;
        std::string bytes;
        std::string expected;
    } cases[] = {
        {"1,000 members", empties(1000, 8), "no error"},
        {"1,001 members, without an end record", withoutEnd(empties(1001, 8)), members},
        {"an end record declaring 1,001 members", patched(valid, end + 8, 1001u << 16 | 1001u), members},
        {"an end record declaring a central directory of 256 KiB + 1", patched(valid, end + 12, 256 * 1024 + 1), headers},
        {"a zip64 end record declaring 1,001 members", patched(zip64, zip64End + 32, 1001), members},
        {"an end record that does not reach the end is none", patched(valid, end + 8, 1001u << 16 | 1001u) + "x",
         "no error"},
        {"names of 300,000 bytes, without an end record", withoutEnd(empties(5, 60'000)), headers},
        {"local extra fields of 300,000 bytes", empties(5, 8, 60'000), headers},
        {"local extra fields of 240,000 bytes", empties(4, 8, 60'000), "no error"},
        {"a local extra field of 60,000 bytes that five central entries lead to", shared, headers},
    };
    for (const auto& c : cases) EXPECT_EQ(WalkError(c.bytes), c.expected) << c.what;
}

// Streamed and zip64 members: the walk steps over their data and descriptors by the sizes of
// the central directory or the zip64 fields, and finds exactly the members, wherever zip
// signatures stand in their data.
TEST(ZipWalk, SizesLeftToTheCentralDirectoryOrTheZip64Field) {
    for (const StreamZipSample& sample : StreamZipSamples()) {
        const std::string bytes = BuildStreamZip(sample.members);
        std::istringstream in(bytes);
        std::vector<std::string> names;
        try {
            for (const ZipDirEntry& e : ReadLocalHeaders(in, static_cast<std::int64_t>(bytes.size())))
                names.push_back(e.FileName);
        } catch (const EZipStreamError& e) {
            ADD_FAILURE() << sample.what << ": " << e.what();
            continue;
        }
        std::vector<std::string> expected;
        for (const StreamZipMember& m : sample.members) expected.push_back(m.name);
        EXPECT_EQ(names, expected) << sample.what;
    }
}

TEST(ZipWalk, SettingTheArchiveNameReadsEveryLocalHeader) {
    TempDir tmp;
    RawZipMember first{"first.bin", "0123456789", std::string("UT\x05\x00\x01\x10\x20\x30\x40", 9)};
    first.flags = 0x0800;
    first.uncompressedSize = 77;
    WriteFileBytes(tmp.path() / "p.fwu", BuildRawZip({first, {"dir/second.bin", ""}}));
    TZipMaster zip;
    int dirUpdates = 0;
    zip.OnDirUpdate = [&](TZipMaster& sender) {
        EXPECT_EQ(&sender, &zip);
        ++dirUpdates;
    };
    zip.SetZipFilename(tmp.path() / "p.fwu");
    ASSERT_EQ(zip.Directory().size(), 2u);
    const ZipDirEntry& e = zip.Directory()[0];
    EXPECT_EQ(e.FileName, "first.bin");
    EXPECT_EQ(std::tuple(e.VersionNeeded, e.Flag, e.CompressionMethod, e.ModifDate, e.FileNameLength, e.ExtraFieldLength),
              std::tuple(20, 0x0800, 0, ((2024 - 1980) << 9) | (1 << 5) | 1, 9, 9));
    EXPECT_EQ(std::tuple(e.CRC32, e.CompressedSize, e.UncompressedSize), std::tuple(Crc32(0, "0123456789", 10), 10u, 77u));
    EXPECT_EQ(zip.Directory()[1].FileName, "dir/second.bin");
    EXPECT_EQ(dirUpdates, 1);

    // A damaged archive, or a folder: the error reaches the caller and the directory is empty.
    WriteFileBytes(tmp.path() / "bad.fwu", "PK\x03\x04 short");
    for (const auto& bad : {tmp.path() / "bad.fwu", tmp.path()}) {
        zip.SetZipFilename(tmp.path() / "p.fwu");
        EXPECT_THROW(zip.SetZipFilename(bad), EZipStreamError);
        EXPECT_TRUE(zip.Directory().empty());
    }
    // A name that does not exist: no error, an empty directory, and no event.
    zip.SetZipFilename(tmp.path() / "missing.fwu");
    EXPECT_TRUE(zip.Directory().empty());
    EXPECT_EQ(dirUpdates, 3);
}

}  // namespace
}  // namespace rovenza

namespace rovenza {
namespace {

// The CRC-32 folds eight bytes at a time: the same value as bit by bit, whatever the length and
// wherever a buffer is split.
TEST(Crc32Test, EightBytesAtATimeAgreeWithTheBitwiseDefinition) {
    EXPECT_EQ(Crc32(0, "123456789", 9), 0xCBF43926u);
    const auto bitwise = [](const std::string& s) {
        std::uint32_t c = 0xFFFFFFFFu;
        for (const unsigned char b : s) {
            c ^= b;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        return ~c;
    };
    std::string text;
    for (int i = 0; i < 41; ++i) text += static_cast<char>(i * 37 + 11);
    for (std::size_t length = 0; length <= text.size(); ++length)
        for (std::size_t split = 0; split <= length; ++split)
            ASSERT_EQ(Crc32(Crc32(0, text.data(), split), text.data() + split, length - split), bitwise(text.substr(0, length)))
                << length << " split at " << split;
}

}  // namespace
}  // namespace rovenza
