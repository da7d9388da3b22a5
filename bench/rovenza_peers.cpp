// The core's package extraction and Intel HEX reading as whole processes, so that a script can
// time them against other programs doing the same work:
//
//   rovenza-peers make-inputs DIR      writes DIR/fpga.fwu (a manifest and a 16 MiB bitstream-like
//                                      fpga.bin, deflated) and DIR/image.hex (16 MiB of text,
//                                      16-byte records)
//   rovenza-peers extract PKG DIR      unpacks PKG into DIR as an upgrade does
//   rovenza-peers readhex FILE OUT     reads FILE record by record through the core's reader and
//                                      writes the bytes by load address into OUT
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "fwu/FwuWriter.h"
#include "fwu/HexWriter.h"
#include "package/ZipMstr.h"
#include "protocols/IntelHex.h"

namespace {

using namespace rovenza;
namespace fs = std::filesystem;

constexpr std::size_t kMiB = 1024 * 1024;

class StderrDebug final : public DebugOutput {
public:
    void write(const std::string& line) override { std::cerr << line << "\n"; }
};

// A reproducible pseudo-random sequence (xorshift64*).
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1Dull;
    }

private:
    std::uint64_t state_;
};

// What an FPGA bitstream looks like to a compressor: a header, then frames of which many are
// empty (zeros), some repeat a fill pattern, and the rest carry sparse or dense configuration
// bits. Deflate takes it to roughly half.
std::string Bitstream(std::size_t size) {
    constexpr std::size_t kFrame = 1024;
    std::string bits(size, '\0');
    Random random(0x5EED);
    for (std::size_t at = 0; at < size; at += kFrame) {
        const std::size_t end = std::min(size, at + kFrame);
        const std::uint64_t kind = random.Next() % 10;
        for (std::size_t i = at; i < end; i += 8) {
            std::uint64_t word = 0;
            if (kind < 3) word = 0;                                          // unused frame
            else if (kind < 4) word = 0xFFFF0000AA995566ull;                 // a fill pattern
            else if (kind < 7) word = random.Next() & random.Next() & random.Next();  // sparse bits
            else word = random.Next();                                       // dense bits
            for (std::size_t b = 0; b < 8 && i + b < end; ++b) bits[i + b] = static_cast<char>(word >> (8 * b));
        }
    }
    return bits;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

int MakeInputs(const fs::path& dir) {
    fs::create_directories(dir);
    const std::string fpga = Bitstream(16 * kMiB);
    WriteFwu(dir / "fpga.fwu", {{"Bootload.ini", ManifestText(3)}, {"fpga.bin", fpga}});
    // 16-byte records of 44 characters and a CR LF: the text reaches 16 MiB with 6 MiB of data.
    const std::size_t dataBytes = 16 * kMiB / 45 * 16;
    const std::vector<std::uint8_t> data(fpga.begin(), fpga.begin() + static_cast<std::ptrdiff_t>(dataBytes));
    WriteFile(dir / "image.hex", WriteIntelHex(data, 0, 16));
    return 0;
}

int Extract(const fs::path& package, const fs::path& dir) {
    TZipMaster zip;
    zip.SetZipFilename(package);
    zip.ExtrBaseDir = dir;
    zip.ExtrOptions = {ExtrOption::ExtrOverWrite};
    zip.Extract();
    return 0;
}

// Every data record's bytes at its load address (extended linear and segment addresses
// applied) in the file `out`, as a converter to a binary file places them: bytes the records do
// not reach read as zeros.
int ReadHex(const fs::path& file, const fs::path& out) {
    StderrDebug debug;
    HexRecordReader reader(file, debug, {.maxFileSize = std::uint64_t{1} << 32});
    std::FILE* f = std::fopen(out.string().c_str(), "wb");
    if (f == nullptr) throw std::runtime_error("cannot write " + out.string());
    std::vector<char> buffer(64 * 1024);
    std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
    bool ok = true;
    std::uint32_t base = 0;
    long position = 0;
    HexRecord record;
    while (ok && reader.Next(record)) {
        if (record.type == 0) {
            const long at = static_cast<long>(base + record.address);
            if (at != position) ok = std::fseek(f, at, SEEK_SET) == 0;
            ok = ok && std::fwrite(record.data, 1, record.count, f) == record.count;
            position = at + record.count;
        } else if (record.type == 1) {
            break;
        } else if ((record.type == 2 || record.type == 4) && record.count >= 2) {
            const std::uint32_t value = static_cast<std::uint32_t>(record.data[0] << 8 | record.data[1]);
            base = record.type == 4 ? value << 16 : value << 4;
        }
    }
    if (std::fclose(f) != 0 || !ok) throw std::runtime_error("cannot write " + out.string());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 2 && args[0] == "make-inputs") return MakeInputs(args[1]);
        if (args.size() == 3 && args[0] == "extract") return Extract(args[1], args[2]);
        if (args.size() == 3 && args[0] == "readhex") return ReadHex(args[1], args[2]);
    } catch (const std::exception& e) {
        std::cerr << "rovenza-peers: " << e.what() << "\n";
        return 1;
    }
    std::cerr << "Usage: rovenza-peers make-inputs DIR | extract PKG DIR | readhex FILE OUT.bin\n";
    return 2;
}
