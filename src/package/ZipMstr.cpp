#include "ZipMstr.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <map>
#include <optional>
#include <system_error>

#include "WorkFolder.h"
#include "platform/Operator.h"

namespace rovenza {

namespace fs = std::filesystem;

namespace {

bool ReadExact(std::istream& in, char* buffer, std::int64_t count) {
    in.read(buffer, count);
    return in.gcount() == count;
}

// Moves `count` bytes on; false when the stream did not end up exactly there.
bool Skip(std::istream& in, std::int64_t count) {
    const std::streamoff before = in.tellg();
    if (before < 0) return false;
    in.seekg(count, std::ios::cur);
    return in && in.tellg() == before + count;
}

std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t Le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t Le64(const unsigned char* p) { return Le32(p) | (std::uint64_t{Le32(p + 4)} << 32); }

ZipDirEntry DecodeLocalHeader(const unsigned char* h) {
    ZipDirEntry e;
    e.VersionNeeded = Le16(h + 0);
    e.Flag = Le16(h + 2);
    e.CompressionMethod = Le16(h + 4);
    e.ModifTime = Le16(h + 6);
    e.ModifDate = Le16(h + 8);
    e.CRC32 = Le32(h + 10);
    e.CompressedSize = Le32(h + 14);
    e.UncompressedSize = Le32(h + 18);
    e.FileNameLength = Le16(h + 22);
    e.ExtraFieldLength = Le16(h + 24);
    return e;
}

// A size taken from a 64-bit field, kept far enough below the top of std::int64_t that the
// walk's sums cannot overflow (anything that large runs past the end of any file).
std::int64_t WalkSize(std::uint64_t size) {
    constexpr std::uint64_t kLimit = std::uint64_t{1} << 62;
    return static_cast<std::int64_t>(size < kLimit ? size : kLimit);
}

// The zip64 field (id 1) among the extra fields `extra`: its 64-bit values are read in order
// into the slots of `values` marked in `present` (uncompressed size, compressed size, offset of
// the local header). False when there is no such field or it is too short.
bool ReadZip64Field(const unsigned char* extra, std::size_t length, const std::array<bool, 3>& present,
                    std::array<std::uint64_t, 3>& values) {
    for (std::size_t at = 0; at + 4 <= length;) {
        const std::size_t size = Le16(extra + at + 2);
        const unsigned char* data = extra + at + 4;
        if (at + 4 + size > length) return false;
        if (Le16(extra + at) == kZip64ExtraId) {
            std::size_t used = 0;
            for (std::size_t i = 0; i < values.size(); ++i) {
                if (!present[i]) continue;
                if (used + 8 > size) return false;
                values[i] = Le64(data + used);
                used += 8;
            }
            return true;
        }
        at += 4 + size;
    }
    return false;
}

// What the central directory says of one member.
struct CentralEntry {
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    bool compressedInZip64 = false;  // the compressed size came from the zip64 field
    std::uint64_t localHeaderAt = 0;  // from the start of the archive
};

// The `count` bytes at `offset` from `start`; empty when they cannot all be read. The stream's
// state is cleared afterwards; its position is not kept.
std::vector<unsigned char> ReadAt(std::istream& in, std::streamoff start, std::int64_t offset, std::int64_t count) {
    std::vector<unsigned char> bytes(static_cast<std::size_t>(count));
    in.clear();
    in.seekg(start + offset);
    const bool ok = in && ReadExact(in, reinterpret_cast<char*>(bytes.data()), count);
    in.clear();
    if (!ok) bytes.clear();
    return bytes;
}

// The central headers at the start of `dir`, in order, up to the first that is not one or does
// not fit. `visit` may stop the loop by returning false.
template <typename Visit>
void ForEachCentralHeader(const std::vector<unsigned char>& dir, Visit visit) {
    for (std::size_t at = 0; at + kCentralHeaderSize <= dir.size();) {
        const unsigned char* h = dir.data() + at;
        if (Le32(h) != kCentralHeaderSignature) break;
        const std::size_t nameLength = Le16(h + 28);
        const std::size_t extraLength = Le16(h + 30);
        const std::size_t next = at + kCentralHeaderSize + nameLength + extraLength + Le16(h + 32);
        if (next > dir.size()) break;
        CentralEntry e;
        e.crc = Le32(h + 16);
        std::array<std::uint64_t, 3> values{Le32(h + 24), Le32(h + 20), Le32(h + 42)};
        const std::array<bool, 3> inZip64{values[0] == 0xFFFFFFFFu, values[1] == 0xFFFFFFFFu, values[2] == 0xFFFFFFFFu};
        if (inZip64[0] || inZip64[1] || inZip64[2]) {
            e.compressedInZip64 =
                ReadZip64Field(h + kCentralHeaderSize + nameLength, extraLength, inZip64, values) && inZip64[1];
        }
        e.uncompressedSize = values[0];
        e.compressedSize = values[1];
        e.localHeaderAt = values[2];
        if (!visit(e)) return;
        at = next;
    }
}

// Where an end record puts the central directory.
struct CentralDirectoryPlace {
    std::uint64_t members = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// The zip64 end record's values, found through the locator at `locatorAt`; none when there is
// no locator there or it leads to no zip64 end record.
std::optional<CentralDirectoryPlace> ReadZip64End(std::istream& in, std::streamoff start, std::int64_t fileSize,
                                                  std::int64_t locatorAt) {
    if (locatorAt < 0) return std::nullopt;
    const std::vector<unsigned char> locator = ReadAt(in, start, locatorAt, kZip64EndLocatorSize);
    if (locator.empty() || Le32(locator.data()) != kZip64EndLocatorSignature) return std::nullopt;
    const std::uint64_t zip64EndAt = Le64(locator.data() + 8);
    if (fileSize < kZip64EndSize || zip64EndAt > static_cast<std::uint64_t>(fileSize - kZip64EndSize))
        return std::nullopt;
    const std::vector<unsigned char> zip64End = ReadAt(in, start, static_cast<std::int64_t>(zip64EndAt), kZip64EndSize);
    if (zip64End.empty() || Le32(zip64End.data()) != kZip64EndSignature) return std::nullopt;
    return CentralDirectoryPlace{Le64(zip64End.data() + 32), Le64(zip64End.data() + 48), Le64(zip64End.data() + 40)};
}

// The archive's last 22 + 65535 bytes (and `extra` before them), and where they start.
struct Tail {
    std::vector<unsigned char> bytes;
    std::int64_t at = 0;
};
Tail ReadTail(std::istream& in, std::streamoff start, std::int64_t fileSize, std::int64_t extra = 0) {
    const std::int64_t size = std::min<std::int64_t>(fileSize, extra + kEndOfCentralDirSize + 0xFFFF);
    if (size < kEndOfCentralDirSize) return {};
    return {ReadAt(in, start, fileSize - size, size), fileSize - size};
}

[[noreturn]] void RefuseMembers() {
    throw EZipTooLargeError("The archive holds more than " + std::to_string(kMaxPackageMembers) +
                            " members, more than a package may hold");
}

[[noreturn]] void RefuseHeaders() {
    throw EZipTooLargeError("The archive's headers take more than " + std::to_string(kMaxDirectorySize) +
                            " bytes, more than a package's may take");
}

// Refuses an archive of which a zip reader would hold more in memory than a package needs: an
// end record it may take declares more members or a larger central directory than a package
// may have, or the local headers that central directory leads to carry more names and extra
// fields. Such an end record lies in the last 22 + 65535 bytes (with room for a zip64 locator
// before them) and ends exactly at the end of the stream, its comment reaching there; a zip64
// locator right before it gives the zip64 end record's values. The stream's position is not
// kept.
void CheckHeaderSizes(std::istream& in, std::streamoff start, std::int64_t fileSize) {
    const Tail tail = ReadTail(in, start, fileSize, kZip64EndLocatorSize);
    const auto tailSize = static_cast<std::int64_t>(tail.bytes.size());
    for (std::int64_t i = 0; i + kEndOfCentralDirSize <= tailSize; ++i) {
        const unsigned char* p = tail.bytes.data() + i;
        if (Le32(p) != kEndOfCentralDirSignature || i + kEndOfCentralDirSize + Le16(p + 20) != tailSize) continue;
        CentralDirectoryPlace place{Le16(p + 10), Le32(p + 16), Le32(p + 12)};
        if (i >= kZip64EndLocatorSize && Le32(p - kZip64EndLocatorSize) == kZip64EndLocatorSignature) {
            const auto zip64 = ReadZip64End(in, start, fileSize, tail.at + i - kZip64EndLocatorSize);
            if (!zip64) continue;
            place = *zip64;
        }
        if (place.members > kMaxPackageMembers) RefuseMembers();
        if (place.size > kMaxDirectorySize) RefuseHeaders();
        const auto size = static_cast<std::uint64_t>(fileSize);
        if (place.size > size || place.offset > size - place.size) continue;
        const std::vector<unsigned char> dir =
            ReadAt(in, start, static_cast<std::int64_t>(place.offset), static_cast<std::int64_t>(place.size));
        std::uint64_t localBytes = 0;
        ForEachCentralHeader(dir, [&](const CentralEntry& e) {
            if (e.localHeaderAt > static_cast<std::uint64_t>(fileSize)) return true;
            const std::vector<unsigned char> local =
                ReadAt(in, start, static_cast<std::int64_t>(e.localHeaderAt), 4 + kLocalHeaderFieldsSize);
            if (local.empty() || Le32(local.data()) != kLocalHeaderSignature) return true;
            localBytes += std::uint64_t{Le16(local.data() + 26)} + Le16(local.data() + 28);
            if (localBytes > kMaxDirectorySize) RefuseHeaders();
            return true;
        });
    }
}

// The central directory's entries by the offset of their local header (from the start of the
// archive). Empty when the end records or the directory cannot be found or read: the walk then
// goes on with the local headers' own sizes. The stream's position is restored.
std::map<std::uint64_t, CentralEntry> ReadCentralDirectory(std::istream& in, std::streamoff start,
                                                           std::int64_t fileSize) {
    std::map<std::uint64_t, CentralEntry> entries;
    const std::streamoff resume = in.tellg();
    struct Restore {
        std::istream& in;
        std::streamoff at;
        ~Restore() {
            in.clear();
            in.seekg(at);
        }
    } restore{in, resume};

    // The end record: the last signature in the final 22 + 65535 bytes whose comment fits.
    const Tail tail = ReadTail(in, start, fileSize);
    const auto tailSize = static_cast<std::int64_t>(tail.bytes.size());
    std::int64_t endAt = -1;
    for (std::int64_t i = tailSize - kEndOfCentralDirSize; i >= 0; --i) {
        const unsigned char* p = tail.bytes.data() + i;
        if (Le32(p) == kEndOfCentralDirSignature && i + kEndOfCentralDirSize + Le16(p + 20) <= tailSize) {
            endAt = i;
            break;
        }
    }
    if (endAt < 0) return entries;
    const unsigned char* end = tail.bytes.data() + endAt;
    CentralDirectoryPlace place{Le16(end + 10), Le32(end + 16), Le32(end + 12)};
    if (place.members == 0xFFFF || place.size == 0xFFFFFFFFu || place.offset == 0xFFFFFFFFu) {
        // The zip64 end record, found through its locator right before the end record.
        const auto zip64 = ReadZip64End(in, start, fileSize, tail.at + endAt - kZip64EndLocatorSize);
        if (!zip64) return entries;
        place = *zip64;
    }
    const auto size = static_cast<std::uint64_t>(fileSize);
    if (place.offset > size || place.size > size - place.offset) return entries;
    if (place.size > kMaxDirectorySize) RefuseHeaders();
    const std::vector<unsigned char> dir =
        ReadAt(in, start, static_cast<std::int64_t>(place.offset), static_cast<std::int64_t>(place.size));
    ForEachCentralHeader(dir, [&](const CentralEntry& e) {
        entries.emplace(e.localHeaderAt, e);
        if (entries.size() > kMaxPackageMembers) RefuseMembers();
        return true;
    });
    return entries;
}

// The length of the data descriptor at the start of `d` (`n` bytes there) that repeats the
// member's CRC-32 and sizes: with or without its signature, with 8- or 4-byte sizes; 0 when none
// does. The longer forms are tried first: the bytes after a shorter descriptor (the next header)
// do not repeat the member's values, so a shorter one is not taken for a longer one.
std::int64_t DataDescriptorLength(const unsigned char* d, std::size_t n, const CentralEntry& member) {
    for (const std::size_t at : {std::size_t{4}, std::size_t{0}}) {
        if (at != 0 && (n < 4 || Le32(d) != kDataDescriptorSignature)) continue;
        for (const std::size_t width : {std::size_t{8}, std::size_t{4}}) {
            const std::size_t length = at + 4 + 2 * width;
            if (n < length) continue;
            const auto value = [&](std::size_t p) { return width == 8 ? Le64(d + p) : std::uint64_t{Le32(d + p)}; };
            if (Le32(d + at) == member.crc && value(at + 4) == member.compressedSize &&
                value(at + 4 + width) == member.uncompressedSize)
                return static_cast<std::int64_t>(length);
        }
    }
    return 0;
}

// Moves on from the stream's position, four bytes at a time, to the next group of four that
// holds a signature the walk knows, and leaves the stream there; without one, after the last
// whole group. Reads in growing blocks, so that a long stretch without a signature (a file of
// gigabytes that is no archive) costs one pass over it, not a read per group.
void ScanOn(std::istream& in) {
    constexpr std::size_t kLargestBlock = 64 * 1024;
    std::vector<unsigned char> block(256);  // every size a multiple of four
    for (;;) {
        const std::streamoff at = in.tellg();
        in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        in.clear();
        std::size_t i = 0;
        for (; i + 4 <= got; i += 4) {
            const std::uint32_t s = Le32(block.data() + i);
            if (s == kLocalHeaderSignature || s == kCentralHeaderSignature || s == kEndOfCentralDirSignature) break;
        }
        if (i + 4 <= got || got < block.size()) {
            in.seekg(at + static_cast<std::streamoff>(i));
            return;
        }
        if (block.size() < kLargestBlock) block.resize(block.size() * 2);
    }
}

}  // namespace

std::vector<ZipDirEntry> ReadLocalHeaders(std::istream& in, std::int64_t fileSize) {
    std::vector<ZipDirEntry> directory;
    const std::streamoff start = in.tellg();
    CheckHeaderSizes(in, start, fileSize);
    in.clear();
    in.seekg(start);
    std::uint64_t headerBytes = 0;  // the names and extra fields so far
    const auto position = [&] { return static_cast<std::int64_t>(in.tellg() - start); };
    // Read when the first member needs it: sizes that the local header leaves to it.
    std::optional<std::map<std::uint64_t, CentralEntry>> central;
    const auto centralEntry = [&](std::int64_t headerAt) -> const CentralEntry* {
        if (!central) central = ReadCentralDirectory(in, start, fileSize);
        const auto it = central->find(static_cast<std::uint64_t>(headerAt));
        return it == central->end() ? nullptr : &it->second;
    };

    for (;;) {
        std::array<unsigned char, 4> sig{};
        if (!ReadExact(in, reinterpret_cast<char*>(sig.data()), 4)) throw EZipStreamError("Error 1 reading Zip File");
        const std::uint32_t signature = Le32(sig.data());
        if (signature == kCentralHeaderSignature || signature == kEndOfCentralDirSignature) break;
        if (signature != kLocalHeaderSignature) {
            ScanOn(in);  // four bytes at a time
            continue;
        }
        const std::int64_t headerAt = position() - 4;

        std::array<unsigned char, kLocalHeaderFieldsSize> header{};
        if (!ReadExact(in, reinterpret_cast<char*>(header.data()), kLocalHeaderFieldsSize))
            throw EZipStreamError("Error 2 reading Zip file");
        ZipDirEntry entry = DecodeLocalHeader(header.data());
        if (directory.size() == kMaxPackageMembers) RefuseMembers();
        headerBytes += std::uint64_t{entry.FileNameLength} + entry.ExtraFieldLength;
        if (headerBytes > kMaxDirectorySize) RefuseHeaders();
        entry.FileName.assign(entry.FileNameLength, '\0');
        if (!ReadExact(in, entry.FileName.data(), entry.FileNameLength)) throw EZipStreamError("Error 2 reading Zip file");
        const std::int64_t extra = entry.ExtraFieldLength;
        std::int64_t compressed = entry.CompressedSize;
        const CentralEntry* streamed = nullptr;  // set when a data descriptor follows the data

        if ((entry.Flag & kFlagDataDescriptor) != 0) {
            // Written to a stream: the sizes (0 here, as a rule) follow the data, and stand in
            // the central directory.
            streamed = centralEntry(headerAt);
            if (streamed != nullptr) compressed = WalkSize(streamed->compressedSize);
        } else if (entry.CompressedSize == 0xFFFFFFFFu) {
            // Zip64: the size is in the zip64 field, here (after the uncompressed size, which a
            // local header always carries there) or else in the central directory's.
            const std::int64_t extraAt = position();
            std::vector<unsigned char> field(static_cast<std::size_t>(extra));
            in.read(reinterpret_cast<char*>(field.data()), extra);
            const auto got = static_cast<std::size_t>(in.gcount());
            in.clear();
            in.seekg(start + extraAt);
            std::array<std::uint64_t, 3> values{};
            if (ReadZip64Field(field.data(), got, {true, true, false}, values)) {
                compressed = WalkSize(values[1]);
            } else if (const CentralEntry* c = centralEntry(headerAt); c != nullptr && c->compressedInZip64) {
                compressed = WalkSize(c->compressedSize);
            }
        }
        directory.push_back(std::move(entry));

        // There must be room for the end-of-central-directory record after the member's data.
        if (position() + extra + compressed > fileSize - kEndOfCentralDirSize)
            throw EZipStreamError("Error 3 reading Zip file");
        if (extra != 0 && !Skip(in, extra)) throw EZipStreamError("Error 4 reading Zip file");
        if (!Skip(in, compressed)) throw EZipStreamError("Error 5 reading Zip file");

        if (streamed != nullptr) {
            // Step over the data descriptor when it repeats the directory's values; otherwise
            // the scan goes on from the end of the data.
            const std::int64_t dataEnd = position();
            std::array<unsigned char, kLongestDataDescriptor> d{};
            in.read(reinterpret_cast<char*>(d.data()), kLongestDataDescriptor);
            const auto got = static_cast<std::size_t>(in.gcount());
            in.clear();
            in.seekg(start + dataEnd + DataDescriptorLength(d.data(), got, *streamed));
        }
    }
    return directory;
}

TZipMaster::TZipMaster(Operator* op) : op_(op) {}

void TZipMaster::SetZipFilename(const fs::path& fileName) {
    zipFilename_ = fileName;
    directory_.clear();
    directoryRead_ = false;

    std::error_code ec;
    const fs::file_status status = fs::status(fileName, ec);
    if (!fs::exists(status)) return;  // no archive: an empty directory, no error
    if (!fs::is_regular_file(status)) throw EZipStreamError("Cannot open Zip file " + fileName.string() + ": not a file");
    const auto size = fs::file_size(fileName, ec);
    std::ifstream in(fileName, std::ios::binary);
    if (ec || !in) throw EZipStreamError("Cannot open Zip file " + fileName.string());

    directory_ = ReadLocalHeaders(in, static_cast<std::int64_t>(size));
    directoryRead_ = true;
    if (OnDirUpdate) OnDirUpdate(*this);
}

void TZipMaster::PrepareBaseDir() const {
    if (ExtrBaseDir.empty()) throw EZipExtractError("No work folder given for the extraction");
    const std::string folder = ExtrBaseDir.string();
    // A link in its place, even to a folder, would have the files of another folder removed and
    // the package written there.
    if (fs::exists(OwnStatus(ExtrBaseDir)) && !IsRealFolder(ExtrBaseDir))
        throw EWorkFolderError(folder + ": the work folder is a link or not a folder");
    std::error_code ec;
    fs::create_directories(ExtrBaseDir, ec);
    if (!IsRealFolder(ExtrBaseDir))
        throw EWorkFolderError(folder + ": cannot create the work folder" + (ec ? ": " + PlainErrorText(ec) : std::string{}));
    // An earlier package's files go first, so that nothing of it is taken for part of this one.
    // Links are removed themselves; folders are left alone. The first listing looks at every
    // file before any is removed; the files go in batches, so that a folder of any size takes
    // little memory, until a listing finds no more than one batch.
    constexpr std::size_t kBatch = 1024;
    for (bool first = true;; first = false) {
        std::vector<fs::path> stale;
        bool more = false;
        for (fs::directory_iterator it(ExtrBaseDir, ec), end; !ec && it != end; it.increment(ec)) {
            const fs::file_status st = it->symlink_status(ec);
            if (ec) break;
            // The archive itself would go with them.
            std::error_code same;
            if (first && fs::is_regular_file(st) && fs::equivalent(it->path(), zipFilename_, same))
                throw EZipExtractError("The archive " + zipFilename_.string() + " lies in the work folder " +
                                       ExtrBaseDir.string() + ", which the extraction empties");
            if (!fs::is_symlink(st) && !fs::is_regular_file(st)) continue;
            if (stale.size() < kBatch) {
                stale.push_back(it->path());
            } else {
                more = true;
                if (!first) break;
            }
        }
        if (ec) throw EWorkFolderError(folder + ": cannot list the work folder: " + PlainErrorText(ec));
        for (const fs::path& file : stale) {
            fs::remove(file, ec);
            if (ec) throw EWorkFolderError(file.string() + ": cannot remove it from the work folder: " + PlainErrorText(ec));
        }
        if (!more) return;
    }
}

void TZipMaster::Extract() {
    if (busy_) return;
    busy_ = true;
    cancel_ = false;
    struct Reset {
        TZipMaster& zip;
        ~Reset() {
            zip.FSpecArgs.clear();
            zip.cancel_ = false;
            zip.busy_ = false;
        }
    } reset{*this};

    if (!directoryRead_) {
        throw EZipExtractError(zipFilename_.empty() ? std::string("No archive given")
                                                    : "The archive " + zipFilename_.string() + " does not exist");
    }
    // Every name is checked before the work folder is touched, so that a refused package
    // changes nothing there. The walk sees the names whole (the module checks the central
    // directory's again).
    std::vector<std::string> names;
    for (const ZipDirEntry& entry : directory_) {
        if (FSpecArgs.empty() || std::find(FSpecArgs.begin(), FSpecArgs.end(), entry.FileName) != FSpecArgs.end())
            names.push_back(entry.FileName);
    }
    const std::string refusal = MemberNamesRefusal(names);

    UnzParams params;
    params.caller = this;
    params.callback = &ZCallback;
    params.trace = Trace;
    params.verbose = Verbose || Trace;
    params.extrUpdate = ExtrOptions.contains(ExtrUpdate);
    params.extrFreshen = ExtrOptions.contains(ExtrFreshen) && !params.extrUpdate;
    params.extrDirNames = ExtrOptions.contains(ExtrDirNames);
    params.extrOverWrite = ExtrOptions.contains(ExtrOverWrite);
    params.archive = zipFilename_;
    params.baseDir = ExtrBaseDir;
    params.memberNames = FSpecArgs;
    params.localNames.emplace();
    for (const ZipDirEntry& entry : directory_) params.localNames->push_back(entry.FileName);

    auto fatal = [this](const std::string& detail) {
        if (op_ != nullptr) {
            try {
                op_->showMessage(std::string(kZipFatalTitle), std::string(kZipFatalMessage));
            } catch (...) {
            }
        }
        return EZipExtractError(std::string(kZipFatalMessage) + detail);
    };
    try {
        if (!refusal.empty()) {
            ZCallbackRec message;  // told as the module tells its refusals
            message.caller = this;
            message.action = ZipAction::Message;
            message.errorCode = 1;
            message.text = refusal;
            ZCallback(message);
            throw EZipExtractError(refusal);
        }
        PrepareBaseDir();
        extractedCount_ = UnzDllExec(params);
    } catch (const EZipExtractError&) {
        throw;
    } catch (const std::exception& e) {
        throw fatal(std::string(": ") + e.what());
    } catch (...) {
        throw fatal({});
    }
}

}  // namespace rovenza
