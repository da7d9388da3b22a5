#include "PackageBytes.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "package/UNZDLL.h"

namespace rovenza {

namespace {

void AppendLe16(std::string& out, std::uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void AppendLe32(std::string& out, std::uint32_t v) {
    AppendLe16(out, static_cast<std::uint16_t>(v & 0xFFFF));
    AppendLe16(out, static_cast<std::uint16_t>(v >> 16));
}

std::size_t FindHeader(const std::string& zip, std::string_view signature, std::size_t nameLenAt, std::size_t nameAt,
                       std::string_view name) {
    for (std::size_t pos = zip.find(signature); pos != std::string::npos; pos = zip.find(signature, pos + 1)) {
        if (pos + nameAt > zip.size()) break;
        const std::size_t len = GetLe16(zip, pos + nameLenAt);
        if (len == name.size() && zip.compare(pos + nameAt, len, name) == 0) return pos;
    }
    throw std::runtime_error("no header for member " + std::string(name));
}

}  // namespace

std::string BuildRawZip(const std::vector<RawZipMember>& members, bool withCentralDirectory) {
    std::string out;
    std::string central;
    for (const RawZipMember& m : members) {
        const std::uint32_t crc = m.crc.value_or(Crc32(0, m.data.data(), m.data.size()));
        const std::uint32_t csize = m.compressedSize.value_or(static_cast<std::uint32_t>(m.data.size()));
        const std::uint32_t usize = m.uncompressedSize.value_or(static_cast<std::uint32_t>(m.data.size()));
        const auto offset = static_cast<std::uint32_t>(out.size());

        AppendLe32(out, 0x04034B50);
        AppendLe16(out, 20);  // version needed
        AppendLe16(out, m.flags);
        AppendLe16(out, m.method);
        AppendLe16(out, 0);                               // time
        AppendLe16(out, ((2024 - 1980) << 9) | (1 << 5) | 1);  // date
        AppendLe32(out, crc);
        AppendLe32(out, csize);
        AppendLe32(out, usize);
        AppendLe16(out, static_cast<std::uint16_t>(m.name.size()));
        AppendLe16(out, static_cast<std::uint16_t>(m.extra.size()));
        out += m.name;
        out += m.extra;
        out += m.data;

        AppendLe32(central, 0x02014B50);
        AppendLe16(central, 20);  // version made by
        AppendLe16(central, 20);  // version needed
        AppendLe16(central, m.flags);
        AppendLe16(central, m.method);
        AppendLe16(central, 0);
        AppendLe16(central, ((2024 - 1980) << 9) | (1 << 5) | 1);
        AppendLe32(central, crc);
        AppendLe32(central, csize);
        AppendLe32(central, usize);
        AppendLe16(central, static_cast<std::uint16_t>(m.name.size()));
        AppendLe16(central, 0);  // extra
        AppendLe16(central, 0);  // comment
        AppendLe16(central, 0);  // disk
        AppendLe16(central, 0);  // internal attributes
        AppendLe32(central, 0);  // external attributes
        AppendLe32(central, offset);
        central += m.name;
    }
    const auto centralOffset = static_cast<std::uint32_t>(out.size());
    if (withCentralDirectory) out += central;
    AppendLe32(out, 0x06054B50);
    AppendLe16(out, 0);
    AppendLe16(out, 0);
    AppendLe16(out, static_cast<std::uint16_t>(withCentralDirectory ? members.size() : 0));
    AppendLe16(out, static_cast<std::uint16_t>(withCentralDirectory ? members.size() : 0));
    AppendLe32(out, withCentralDirectory ? static_cast<std::uint32_t>(central.size()) : 0);
    AppendLe32(out, centralOffset);
    AppendLe16(out, 0);
    return out;
}

void PutLe16(std::string& bytes, std::size_t offset, std::uint16_t value) {
    bytes.at(offset) = static_cast<char>(value & 0xFF);
    bytes.at(offset + 1) = static_cast<char>(value >> 8);
}

void PutLe32(std::string& bytes, std::size_t offset, std::uint32_t value) {
    PutLe16(bytes, offset, static_cast<std::uint16_t>(value & 0xFFFF));
    PutLe16(bytes, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

std::uint16_t GetLe16(const std::string& bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes.at(offset)) |
                                      (static_cast<unsigned char>(bytes.at(offset + 1)) << 8));
}

std::uint32_t GetLe32(const std::string& bytes, std::size_t offset) {
    return GetLe16(bytes, offset) | (static_cast<std::uint32_t>(GetLe16(bytes, offset + 2)) << 16);
}

std::size_t LocalHeaderOffset(const std::string& zip, std::string_view name) {
    return FindHeader(zip, std::string_view("PK\x03\x04", 4), 26, 30, name);
}

std::size_t CentralHeaderOffset(const std::string& zip, std::string_view name) {
    return FindHeader(zip, std::string_view("PK\x01\x02", 4), 28, 46, name);
}

std::size_t MemberDataOffset(const std::string& zip, std::string_view name) {
    const std::size_t header = LocalHeaderOffset(zip, name);
    return header + 30 + GetLe16(zip, header + 26) + GetLe16(zip, header + 28);
}

std::string ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFileBytes(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> FolderListing(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_symlink() || entry.is_regular_file()) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace rovenza
