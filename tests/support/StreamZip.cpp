#include "StreamZip.h"

#include <zlib.h>

#include <stdexcept>

#include "package/UNZDLL.h"

namespace rovenza {

namespace {

constexpr std::uint32_t kAll = 0xFFFFFFFFu;
constexpr std::uint16_t kDosDate = ((2024 - 1980) << 9) | (1 << 5) | 1;

void Append(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i, value >>= 8) out += static_cast<char>(value & 0xFF);
}

// A zip64 extra field holding `values`, 8 bytes each.
std::string Zip64Field(const std::vector<std::uint64_t>& values) {
    std::string field;
    Append(field, 0x0001, 2);
    Append(field, values.size() * 8, 2);
    for (std::uint64_t v : values) Append(field, v, 8);
    return field;
}

}  // namespace

std::string RawDeflate(const std::string& data) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (result != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
    return out;
}

RepeatedDeflate DeflateRepeated(const std::string& head, const std::string& chunk, std::uint64_t count,
                                const std::string& tail) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    const auto part = [&z](const std::string& text, int flush) {
        std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 64, '\0');
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
        z.avail_in = static_cast<uInt>(text.size());
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = static_cast<uInt>(out.size());
        const int result = deflate(&z, flush);
        if (z.avail_in != 0 || z.avail_out == 0 || (result != Z_OK && result != Z_STREAM_END))
            throw std::runtime_error("deflate failed");
        out.resize(out.size() - z.avail_out);
        return out;
    };
    RepeatedDeflate r;
    r.deflated = part(head, Z_FULL_FLUSH);
    if (count > 0) {
        const std::string code = part(chunk, Z_FULL_FLUSH);
        if (part(chunk, Z_FULL_FLUSH) != code) throw std::logic_error("a chunk deflated differently the second time");
        r.deflated.reserve(r.deflated.size() + code.size() * count);
        for (std::uint64_t i = 0; i < count; ++i) r.deflated += code;
    }
    r.deflated += part(tail, Z_FINISH);
    deflateEnd(&z);

    const auto crcOf = [](const std::string& text) {
        return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
    };
    r.crc = crcOf(head);
    const std::uint32_t chunkCrc = crcOf(chunk);
    for (std::uint64_t i = 0; i < count; ++i)
        r.crc = static_cast<std::uint32_t>(crc32_combine(r.crc, chunkCrc, static_cast<z_off_t>(chunk.size())));
    r.crc = static_cast<std::uint32_t>(crc32_combine(r.crc, crcOf(tail), static_cast<z_off_t>(tail.size())));
    r.size = head.size() + chunk.size() * count + tail.size();
    return r;
}

std::string WithCrc(std::string data, std::uint32_t crc) {
    // The table index of each of the four bytes follows from the wanted register alone (the
    // top bytes of the table's entries are all different); the bytes then follow going forward.
    std::uint32_t table[256];
    std::uint8_t byTopByte[256];
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
        byTopByte[c >> 24] = static_cast<std::uint8_t>(n);
    }
    std::uint8_t index[4];
    std::uint32_t reg = ~crc;
    for (int k = 3; k >= 0; --k) {
        index[k] = byTopByte[reg >> 24];
        reg = (reg ^ table[index[k]]) << 8;
    }
    reg = ~Crc32(0, data.data(), data.size());
    for (int k = 0; k < 4; ++k) {
        data += static_cast<char>((reg ^ index[k]) & 0xFF);
        reg = table[index[k]] ^ (reg >> 8);
    }
    if (Crc32(0, data.data(), data.size()) != crc) throw std::logic_error("WithCrc missed its CRC");
    return data;
}

std::vector<StreamZipSample> StreamZipSamples() {
    // Pseudo-random bytes with a zip signature every 37 bytes (so at every offset modulo four).
    const auto contents = [](std::uint32_t seed, std::size_t size) {
        static const char* const kSignatures[] = {"PK\x03\x04", "PK\x01\x02", "PK\x05\x06", "PK\x07\x08"};
        std::string data;
        for (std::size_t i = 0; data.size() < size; ++i) {
            seed = seed * 1664525u + 1013904223u;
            if (i % 37 == 36) data += kSignatures[(seed >> 16) % 4];
            else data += static_cast<char>(seed >> 24);
        }
        data.resize(size);
        return data;
    };
    // Text that deflates well, so the compressed data is much shorter than the member.
    const auto text = [](std::uint32_t seed, std::size_t lines) {
        std::string t;
        for (std::size_t i = 0; i < lines; ++i) t += ":10" + std::to_string(seed * 131 + i * 7) + "00FFEE\r\n";
        return t;
    };

    std::vector<StreamZipSample> samples;
    for (std::uint32_t seed = 1; seed <= 6; ++seed) {
        StreamZipSample s{"mixed, seed " + std::to_string(seed), {}};
        for (std::uint32_t i = 0; i < 5; ++i) {
            StreamZipMember m;
            m.name = "s" + std::to_string(seed) + "_m" + std::to_string(i) + ".bin";
            m.data = i == 4 ? text(seed, 50 * seed) : contents(seed * 10 + i, (seed * 997 + i * 311) % 3000 + i);
            m.deflate = (seed + i) % 2 == 0;
            m.descriptorSignature = (seed + i / 2) % 2 == 0;
            s.members.push_back(m);
        }
        samples.push_back(s);
    }
    samples.push_back({"empty members",
                       {{"e1.bin", "", true, true, true}, {"e2.bin", "", false, true, false}, {"e3.bin", "", false, true, true},
                        {"e4.bin", "", true, true, false}}});
    // The CRC-32 of a member is the first field of its descriptor, or the first after the
    // descriptor's signature.
    for (const bool signature : {false, true}) {
        const std::string how = signature ? "with" : "without";
        samples.push_back({"CRC-32 reading as signatures, descriptors " + how + " signature",
                           {{"c1.bin", WithCrc(contents(77, 400), 0x06054B50), false, true, signature},
                            {"c2.bin", WithCrc(contents(78, 401), 0x04034B50), false, true, signature},
                            {"c3.bin", WithCrc(contents(79, 402), 0x02014B50), true, true, signature},
                            {"c4.bin", WithCrc(contents(80, 403), 0x08074B50), false, true, signature},
                            {"c5.bin", contents(81, 404), true, true, signature}}});
    }
    samples.push_back({"zip64 members",
                       {{"z1.bin", contents(90, 1234), false, false, false, true},
                        {"z2.bin", text(3, 200), true, false, false, true},
                        {"plain.bin", contents(91, 99), false, false, false, false}}});
    samples.push_back({"streamed zip64 members",
                       {{"y1.bin", contents(92, 2345), false, true, true, true},
                        {"y2.bin", text(4, 300), true, true, false, true},
                        {"y3.bin", contents(93, 77), true, true, true, false}}});
    return samples;
}

std::string BuildStreamZip(const std::vector<StreamZipMember>& members) {
    std::string out;
    std::string central;
    bool anyZip64 = false;
    for (const StreamZipMember& m : members) {
        anyZip64 = anyZip64 || m.zip64;
        const std::string stored = m.deflate ? RawDeflate(m.data) : m.data;
        const std::uint32_t crc = Crc32(0, m.data.data(), m.data.size());
        const std::uint16_t flags = m.streamed ? 0x0008 : 0;
        const std::uint64_t offset = out.size();

        // Local header: what a writer knows before the data.
        std::string localExtra;
        std::uint32_t localCrc = crc;
        std::uint64_t localSizes[2] = {stored.size(), m.data.size()};  // compressed, uncompressed
        if (m.streamed) {
            localCrc = 0;
            localSizes[0] = localSizes[1] = 0;
        }
        if (m.zip64) {
            localExtra = Zip64Field({localSizes[1], localSizes[0]});
            localSizes[0] = localSizes[1] = kAll;
        }
        Append(out, 0x04034B50, 4);
        Append(out, m.zip64 ? 45 : 20, 2);
        Append(out, flags, 2);
        Append(out, m.deflate ? 8 : 0, 2);
        Append(out, 0, 2);
        Append(out, kDosDate, 2);
        Append(out, localCrc, 4);
        Append(out, localSizes[0], 4);
        Append(out, localSizes[1], 4);
        Append(out, m.name.size(), 2);
        Append(out, localExtra.size(), 2);
        out += m.name + localExtra + stored;

        if (m.streamed) {
            if (m.descriptorSignature) Append(out, 0x08074B50, 4);
            Append(out, crc, 4);
            Append(out, stored.size(), m.zip64 ? 8 : 4);
            Append(out, m.data.size(), m.zip64 ? 8 : 4);
        }

        // Central header: everything known.
        const std::string centralExtra = m.zip64 ? Zip64Field({m.data.size(), stored.size(), offset}) : std::string();
        Append(central, 0x02014B50, 4);
        Append(central, m.zip64 ? 45 : 20, 2);  // version made by
        Append(central, m.zip64 ? 45 : 20, 2);
        Append(central, flags, 2);
        Append(central, m.deflate ? 8 : 0, 2);
        Append(central, 0, 2);
        Append(central, kDosDate, 2);
        Append(central, crc, 4);
        Append(central, m.zip64 ? kAll : stored.size(), 4);
        Append(central, m.zip64 ? kAll : m.data.size(), 4);
        Append(central, m.name.size(), 2);
        Append(central, centralExtra.size(), 2);
        Append(central, 0, 2 + 2 + 2 + 4);  // comment, disk, attributes
        Append(central, m.zip64 ? kAll : offset, 4);
        central += m.name + centralExtra;
    }

    const std::uint64_t centralOffset = out.size();
    out += central;
    if (anyZip64) {
        const std::uint64_t zip64EndAt = out.size();
        Append(out, 0x06064B50, 4);
        Append(out, 44, 8);  // size of the rest of this record
        Append(out, 45, 2);
        Append(out, 45, 2);
        Append(out, 0, 4 + 4);  // disk numbers
        Append(out, members.size(), 8);
        Append(out, members.size(), 8);
        Append(out, central.size(), 8);
        Append(out, centralOffset, 8);
        Append(out, 0x07064B50, 4);  // locator
        Append(out, 0, 4);
        Append(out, zip64EndAt, 8);
        Append(out, 1, 4);
    }
    Append(out, 0x06054B50, 4);
    Append(out, 0, 4);
    Append(out, anyZip64 ? 0xFFFF : members.size(), 2);
    Append(out, anyZip64 ? 0xFFFF : members.size(), 2);
    Append(out, anyZip64 ? kAll : central.size(), 4);
    Append(out, anyZip64 ? kAll : centralOffset, 4);
    Append(out, 0, 2);
    return out;
}

}  // namespace rovenza
