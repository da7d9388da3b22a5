#pragma once
// TZipMaster: reads an FWU package's directory by walking its local headers, then unpacks it
// into a work folder through the unzip module (UNZDLL).
//
// Setting the archive name walks the local headers at once; a damaged archive is refused
// there with EZipStreamError, one larger than a package can be with EZipTooLargeError, before
// anything is extracted. Extract() checks the members'
// output names (refused names, or two members on one name without regard to case, fail it
// before anything is touched), refuses a work folder that is a link or not a folder, or that
// holds the archive itself, creates it if needed, removes the files an earlier package left
// directly in it, and writes every member flat into it; a member that cannot be written intact
// fails the extraction with EZipExtractError, as does a central directory that lists other
// members than the walk found. The process's current folder is never changed.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

#include "UNZDLL.h"

namespace rovenza {

class Operator;

// A directory that fails the local-header walk ("Error 1 reading Zip File" and the like).
class EZipStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The work folder cannot serve the extraction (a link or not a folder, cannot be created,
// listed or emptied); the message starts with the path concerned.
class EWorkFolderError : public EZipExtractError {
public:
    using EZipExtractError::EZipExtractError;
};

// An archive larger than a firmware package can be: more members than kMaxPackageMembers, or a
// directory larger than kMaxDirectorySize. Refused by the walk, before anything is extracted.
class EZipTooLargeError : public EZipExtractError {
public:
    using EZipExtractError::EZipExtractError;
};

// Packages hold a manifest and a handful of images. The zip library holds an archive's whole
// central directory in memory, as the walk holds the local headers' names: these limits keep
// both small, whatever an archive declares.
inline constexpr std::uint64_t kMaxPackageMembers = 1000;
inline constexpr std::uint64_t kMaxDirectorySize = 256 * 1024;  // the central directory; the local names together

inline constexpr std::uint32_t kLocalHeaderSignature = 0x04034B50;
inline constexpr std::uint32_t kCentralHeaderSignature = 0x02014B50;
inline constexpr std::uint32_t kEndOfCentralDirSignature = 0x06054B50;
inline constexpr std::uint32_t kDataDescriptorSignature = 0x08074B50;
inline constexpr std::uint32_t kZip64EndSignature = 0x06064B50;
inline constexpr std::uint32_t kZip64EndLocatorSignature = 0x07064B50;
inline constexpr std::int64_t kLocalHeaderFieldsSize = 26;
inline constexpr std::int64_t kCentralHeaderSize = 46;
inline constexpr std::int64_t kEndOfCentralDirSize = 22;
inline constexpr std::int64_t kZip64EndSize = 56;
inline constexpr std::int64_t kZip64EndLocatorSize = 20;
inline constexpr std::int64_t kLongestDataDescriptor = 24;  // signature, CRC-32, two 8-byte sizes
inline constexpr std::uint16_t kFlagDataDescriptor = 0x0008;  // sizes and CRC-32 follow the data
inline constexpr std::uint16_t kZip64ExtraId = 0x0001;

// The 26 bytes after a local header's signature, and the member's name.
struct ZipDirEntry {
    std::uint16_t VersionNeeded = 0;
    std::uint16_t Flag = 0;
    std::uint16_t CompressionMethod = 0;
    std::uint16_t ModifTime = 0;
    std::uint16_t ModifDate = 0;
    std::uint32_t CRC32 = 0;
    std::uint32_t CompressedSize = 0;
    std::uint32_t UncompressedSize = 0;
    std::uint16_t FileNameLength = 0;
    std::uint16_t ExtraFieldLength = 0;
    std::string FileName;
};

// The local-header walk over a stream of `fileSize` bytes, positioned at its start. Returns one
// entry per local header; throws EZipStreamError, and EZipTooLargeError when the walk finds more
// members or longer names than the limits allow, or when an end record at the end of the stream
// (one a zip reader may take) declares more members or a larger central directory.
//
// A member's data is stepped over by the compressed size of its local header, except where that
// header leaves the size to another place: with flag bit 3 (written to a stream) the sizes are
// the central directory's, and the data descriptor after the data is stepped over as well; a
// compressed size of 0xFFFFFFFF is taken from the zip64 field (the local header's, else the
// central directory's). Where that place cannot be read, the local header's value stands.
std::vector<ZipDirEntry> ReadLocalHeaders(std::istream& in, std::int64_t fileSize);

// A small set of enumerators (each below 32).
template <typename E>
class OptionSet {
public:
    constexpr OptionSet() = default;
    constexpr OptionSet(std::initializer_list<E> items) {
        for (E e : items) insert(e);
    }
    constexpr bool contains(E e) const { return (bits_ & Bit(e)) != 0; }
    constexpr void insert(E e) { bits_ |= Bit(e); }
    constexpr void erase(E e) { bits_ &= ~Bit(e); }
    constexpr bool empty() const { return bits_ == 0; }
    friend constexpr bool operator==(OptionSet, OptionSet) = default;

private:
    static constexpr std::uint32_t Bit(E e) { return std::uint32_t{1} << static_cast<unsigned>(e); }
    std::uint32_t bits_ = 0;
};

enum ExtrOption : std::uint8_t { ExtrDirNames, ExtrOverWrite, ExtrFreshen, ExtrUpdate };
enum AddOption : std::uint8_t { AddDirNames, AddRecurseDirs, AddMove, AddFreshen, AddUpdate, AddZipTime, AddForceDOS };
using ExtrOptionSet = OptionSet<ExtrOption>;
using AddOptionSet = OptionSet<AddOption>;

enum class TProgressType { NewFile, ProgressUpdate, EndOfBatch };

// Shown when the module call ends with something other than an ordinary extraction failure.
inline constexpr std::string_view kZipFatalMessage = "Fatal DLL Error: abort exception";
inline constexpr std::string_view kZipFatalTitle = "Rovenza";

class TZipMaster {
public:
    // `op`, when given, shows the fatal-error dialog.
    explicit TZipMaster(Operator* op = nullptr);
    TZipMaster(const TZipMaster&) = delete;
    TZipMaster& operator=(const TZipMaster&) = delete;

    // Published properties.
    bool Verbose = false;
    bool Trace = false;
    int AddCompLevel = 9;      // no archive is ever written
    AddOptionSet AddOptions;   // no archive is ever written
    std::filesystem::path ExtrBaseDir;
    ExtrOptionSet ExtrOptions;
    std::vector<std::string> FSpecArgs;  // stored names to extract; empty means all

    std::function<void(TZipMaster& sender)> OnDirUpdate;
    std::function<void(TZipMaster& sender, TProgressType type, const std::string& fileName, std::int64_t fileSize)>
        OnProgress;
    std::function<void(TZipMaster& sender, std::int32_t errCode, const std::string& message)> OnMessage;

    const std::filesystem::path& ZipFilename() const { return zipFilename_; }
    // Stores the name and reads the directory. A missing file gives an empty directory and no
    // error; a damaged archive throws EZipStreamError, one too large EZipTooLargeError (the
    // directory is left empty).
    void SetZipFilename(const std::filesystem::path& fileName);

    // Unpacks the archive into ExtrBaseDir. Returns at once while an extraction is running on
    // this component. Throws EZipExtractError when the extraction did not complete.
    void Extract();

    const std::vector<ZipDirEntry>& Directory() const { return directory_; }
    std::int32_t ExtractedCount() const { return extractedCount_; }
    bool Busy() const { return busy_; }
    // Asks the running extraction to stop; it then fails.
    void RequestCancel() { cancel_ = true; }
    bool CancelRequested() const { return cancel_; }

private:
    void PrepareBaseDir() const;

    Operator* op_;
    std::filesystem::path zipFilename_;
    std::vector<ZipDirEntry> directory_;
    bool directoryRead_ = false;  // the walk over an existing archive passed
    std::int32_t extractedCount_ = 0;
    bool busy_ = false;
    bool cancel_ = false;
};

}  // namespace rovenza
