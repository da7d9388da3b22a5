#pragma once
// Zip archives as a zip writer makes them on a stream it cannot seek back in: general-purpose
// flag bit 3 set, CRC-32 and sizes 0 in the local header, a data descriptor after the data (with
// or without its signature), the real values in the central directory. Also zip64 members:
// 0xFFFFFFFF sizes in the headers, the real sizes in zip64 extra fields (id 1).
#include <cstdint>
#include <string>
#include <vector>

namespace rovenza {

struct StreamZipMember {
    std::string name{};
    std::string data{};  // uncompressed
    bool deflate = true;   // else stored
    bool streamed = true;  // bit 3 and a data descriptor; else the sizes stand in the local header
    bool descriptorSignature = true;
    // The local and central headers' sizes (and the central header's offset) are 0xFFFFFFFF and
    // their values stand in zip64 fields; a streamed member's descriptor has 8-byte sizes. An
    // archive with a zip64 member ends with the zip64 end records, its end record's counts,
    // size and offset 0xFFFF and 0xFFFFFFFF.
    bool zip64 = false;
};

std::string BuildStreamZip(const std::vector<StreamZipMember>& members);

// `data` deflated as a zip member holds it (raw deflate, no header or trailer).
std::string RawDeflate(const std::string& data);

// Raw deflate of `head`, then `chunk` `count` times, then `tail`, made without holding the whole
// text: every part ends on a full flush, after which equal input deflates to equal bytes, so one
// chunk's code is repeated. For members of gigabytes (a zip bomb) or of millions of lines.
struct RepeatedDeflate {
    std::string deflated;
    std::uint64_t size = 0;  // of the text
    std::uint32_t crc = 0;   // CRC-32 of the text
};
RepeatedDeflate DeflateRepeated(const std::string& head, const std::string& chunk, std::uint64_t count,
                                const std::string& tail);

// `data` with four bytes appended that make its CRC-32 `crc`.
std::string WithCrc(std::string data, std::uint32_t crc);

// Archives of streamed and zip64 members, each with its own contents: stored and deflated data,
// descriptors with and without signature, zip signatures inside the data at every offset modulo
// four, empty members, members whose CRC-32 (the first field of a descriptor without signature)
// reads as a local header or end record signature.
struct StreamZipSample {
    std::string what;
    std::vector<StreamZipMember> members;
};
std::vector<StreamZipSample> StreamZipSamples();

}  // namespace rovenza
