#pragma once
// Zip archives byte by byte, for tests that need archives no zip writer makes: damaged
// headers, odd names, false sizes, extra fields. Members are stored (method 0) unless told.
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
    std::optional<std::uint32_t> compressedSize{};    // default: data.size()
};

// Local headers with their data, then (unless told not to) the central directory, then the
// end-of-central-directory record.
std::string BuildRawZip(const std::vector<RawZipMember>& members, bool withCentralDirectory = true);

void PutLe16(std::string& bytes, std::size_t offset, std::uint16_t value);
void PutLe32(std::string& bytes, std::size_t offset, std::uint32_t value);
std::uint16_t GetLe16(const std::string& bytes, std::size_t offset);
std::uint32_t GetLe32(const std::string& bytes, std::size_t offset);

// Offsets of the local header and of the central header of the member stored as `name`
// (throws std::runtime_error when there is none).
std::size_t LocalHeaderOffset(const std::string& zip, std::string_view name);
std::size_t CentralHeaderOffset(const std::string& zip, std::string_view name);
// Offset of the member's data (after its local header, name and extra field).
std::size_t MemberDataOffset(const std::string& zip, std::string_view name);

std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, std::string_view bytes);

// The regular files and links directly in `folder`, by name, sorted.
std::vector<std::string> FolderListing(const std::filesystem::path& folder);

}  // namespace rovenza
