#pragma once
// Zip archives byte by byte, for tests that need archives no zip writer makes: damaged
// headers, odd names, false sizes and checksums, extra fields. Members are stored unless told.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rovenza {

struct RawZipMember {
    std::string name{};
    std::string data{};   // the bytes as they stand in the archive
    std::string extra{};  // the local header's extra field
    std::uint16_t method = 0;
    std::uint16_t flags = 0;
    std::optional<std::uint32_t> crc{};               // default: CRC-32 of `data`
    std::optional<std::uint32_t> uncompressedSize{};  // default: data.size()
    // The central header's "version made by" (high byte: the system, 3 for Unix) and external
    // attributes (for Unix, the file mode in the high 16 bits: 0120777 << 16 marks a link).
    std::uint16_t madeBy = 20;
    std::uint32_t externalAttributes = 0;
    std::string centralExtra{};  // the central header's extra field
};

// Local headers with their data, the central directory, the end-of-central-directory record.
std::string BuildRawZip(const std::vector<RawZipMember>& members);

void PutLe16(std::string& bytes, std::size_t offset, std::uint16_t value);
void PutLe32(std::string& bytes, std::size_t offset, std::uint32_t value);

// Offset of the data of the member stored as `name`, after its local header, name and extra
// field (throws std::runtime_error when there is no such member).
std::size_t MemberDataOffset(const std::string& zip, std::string_view name);
// Offset of the central header of the member stored as `name` (throws likewise).
std::size_t CentralHeaderOffset(const std::string& zip, std::string_view name);

// `zip` (an archive without a comment) with one more central header: `name`'s from the archive
// `from`, pointing at `offset` (two members on one local header, or a member hidden in another's
// data).
std::string AddCentralEntry(std::string zip, const std::string& from, std::string_view name, std::uint32_t offset);

std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, std::string_view bytes);

// The regular files and links directly in `folder`, by name, sorted.
std::vector<std::string> FolderListing(const std::filesystem::path& folder);

}  // namespace rovenza
