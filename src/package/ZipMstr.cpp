#include "ZipMstr.h"

#include <array>
#include <fstream>
#include <system_error>

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

}  // namespace

std::vector<ZipDirEntry> ReadLocalHeaders(std::istream& in, std::int64_t fileSize) {
    std::vector<ZipDirEntry> directory;
    const std::streamoff start = in.tellg();
    for (;;) {
        std::array<unsigned char, 4> sig{};
        if (!ReadExact(in, reinterpret_cast<char*>(sig.data()), 4)) throw EZipStreamError("Error 1 reading Zip File");
        const std::uint32_t signature = Le32(sig.data());
        if (signature == kCentralHeaderSignature || signature == kEndOfCentralDirSignature) break;
        if (signature != kLocalHeaderSignature) continue;  // scan on, four bytes at a time

        std::array<unsigned char, kLocalHeaderFieldsSize> header{};
        if (!ReadExact(in, reinterpret_cast<char*>(header.data()), kLocalHeaderFieldsSize))
            throw EZipStreamError("Error 2 reading Zip file");
        ZipDirEntry entry = DecodeLocalHeader(header.data());
        entry.FileName.assign(entry.FileNameLength, '\0');
        if (!ReadExact(in, entry.FileName.data(), entry.FileNameLength)) throw EZipStreamError("Error 2 reading Zip file");
        const std::int64_t extra = entry.ExtraFieldLength;
        const std::int64_t compressed = entry.CompressedSize;
        directory.push_back(std::move(entry));

        // There must be room for the end-of-central-directory record after the member's data.
        const std::int64_t position = static_cast<std::int64_t>(in.tellg() - start);
        if (position + extra + compressed > fileSize - kEndOfCentralDirSize)
            throw EZipStreamError("Error 3 reading Zip file");
        if (extra != 0 && !Skip(in, extra)) throw EZipStreamError("Error 4 reading Zip file");
        if (!Skip(in, compressed)) throw EZipStreamError("Error 5 reading Zip file");
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
    std::error_code ec;
    fs::create_directories(ExtrBaseDir, ec);
    if (!fs::is_directory(ExtrBaseDir)) {
        throw EZipExtractError("Cannot create the work folder " + ExtrBaseDir.string() +
                               (ec ? ": " + ec.message() : std::string{}));
    }
    // An earlier package's files go first, so that nothing of it is taken for part of this one.
    // Links are removed themselves; folders are left alone.
    std::vector<fs::path> stale;
    for (fs::directory_iterator it(ExtrBaseDir, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::file_status st = it->symlink_status(ec);
        if (ec) break;
        if (fs::is_symlink(st) || fs::is_regular_file(st)) stale.push_back(it->path());
    }
    if (ec) throw EZipExtractError("Cannot list the work folder " + ExtrBaseDir.string() + ": " + ec.message());
    for (const fs::path& file : stale) {
        fs::remove(file, ec);
        if (ec) throw EZipExtractError("Cannot remove " + file.string() + " from the work folder: " + ec.message());
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
    // The module sees names only up to a NUL byte; the walk sees them whole.
    for (const ZipDirEntry& entry : directory_) {
        if (entry.FileName.find('\0') == std::string::npos) continue;
        std::string shown = entry.FileName;
        for (std::size_t pos = shown.find('\0'); pos != std::string::npos; pos = shown.find('\0', pos))
            shown.replace(pos, 1, "\\0");
        throw EZipExtractError("Member \"" + shown + "\": name holds a NUL byte");
    }
    PrepareBaseDir();

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
