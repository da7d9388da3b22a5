#include "PackageBytes.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "package/UNZDLL.h"

namespace rovenza {

namespace {

// `bytes` bytes of `value`, least significant first (zeros past its four).
void Append(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i, value >>= 8) out += static_cast<char>(value & 0xFF);
}

std::uint16_t GetLe16(const std::string& bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes.at(offset)) |
                                      (static_cast<unsigned char>(bytes.at(offset + 1)) << 8));
}

}  // namespace

std::string BuildRawZip(const std::vector<RawZipMember>& members) {
    std::string out;
    std::string central;
    for (const RawZipMember& m : members) {
        const auto size = static_cast<std::uint32_t>(m.data.size());
        // What the local and the central header share: version needed, flags, method, time,
        // date, CRC-32, sizes, name length.
        std::string shared;
        Append(shared, 20, 2);
        Append(shared, m.flags, 2);
        Append(shared, m.method, 2);
        Append(shared, 0, 2);
        Append(shared, ((2024 - 1980) << 9) | (1 << 5) | 1, 2);
        Append(shared, m.crc.value_or(Crc32(0, m.data.data(), m.data.size())), 4);
        Append(shared, size, 4);
        Append(shared, m.uncompressedSize.value_or(size), 4);
        Append(shared, static_cast<std::uint32_t>(m.name.size()), 2);

        Append(central, 0x02014B50, 4);
        Append(central, m.madeBy, 2);
        central += shared;
        Append(central, static_cast<std::uint32_t>(m.centralExtra.size()), 2);
        Append(central, 0, 2 + 2 + 2);  // comment, disk, internal attributes: none
        Append(central, m.externalAttributes, 4);
        Append(central, static_cast<std::uint32_t>(out.size()), 4);
        central += m.name + m.centralExtra;

        Append(out, 0x04034B50, 4);
        out += shared;
        Append(out, static_cast<std::uint32_t>(m.extra.size()), 2);
        out += m.name + m.extra + m.data;
    }
    const auto centralOffset = static_cast<std::uint32_t>(out.size());
    out += central;
    Append(out, 0x06054B50, 4);
    Append(out, 0, 4);  // disk numbers
    Append(out, static_cast<std::uint32_t>(members.size()), 2);
    Append(out, static_cast<std::uint32_t>(members.size()), 2);
    Append(out, static_cast<std::uint32_t>(central.size()), 4);
    Append(out, centralOffset, 4);
    Append(out, 0, 2);  // comment
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

std::size_t MemberDataOffset(const std::string& zip, std::string_view name) {
    const std::string_view signature("PK\x03\x04", 4);
    for (std::size_t at = zip.find(signature); at != std::string::npos && at + 30 <= zip.size();
         at = zip.find(signature, at + 1)) {
        const std::size_t nameLength = GetLe16(zip, at + 26);
        if (nameLength == name.size() && zip.compare(at + 30, nameLength, name) == 0)
            return at + 30 + nameLength + GetLe16(zip, at + 28);
    }
    throw std::runtime_error("no local header for member " + std::string(name));
}

std::size_t CentralHeaderOffset(const std::string& zip, std::string_view name) {
    const std::string_view signature("PK\x01\x02", 4);
    for (std::size_t at = zip.find(signature); at != std::string::npos && at + 46 <= zip.size();
         at = zip.find(signature, at + 1)) {
        const std::size_t nameLength = GetLe16(zip, at + 28);
        if (nameLength == name.size() && zip.compare(at + 46, nameLength, name) == 0) return at;
    }
    throw std::runtime_error("no central header for member " + std::string(name));
}

std::string AddCentralEntry(std::string zip, const std::string& from, std::string_view name, std::uint32_t offset) {
    std::string header = from.substr(CentralHeaderOffset(from, name), 46 + name.size());
    PutLe32(header, 42, offset);
    zip.insert(zip.size() - 22, header);
    const std::size_t end = zip.size() - 22;  // the end record: counts, then the directory's size
    PutLe16(zip, end + 8, static_cast<std::uint16_t>(GetLe16(zip, end + 8) + 1));
    PutLe16(zip, end + 10, static_cast<std::uint16_t>(GetLe16(zip, end + 10) + 1));
    PutLe32(zip, end + 12, GetLe16(zip, end + 12) + (static_cast<std::uint32_t>(GetLe16(zip, end + 14)) << 16) +
                               static_cast<std::uint32_t>(header.size()));
    return zip;
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
