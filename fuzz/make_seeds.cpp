// fuzz-seeds: writes the seed corpus of the fuzz targets, OUTPUT_FOLDER/<target>/<seed>, from
// the package tooling (packages, manifests, HEX and FPGA text), the test archive builder
// (streamed and zip64 archives) and the frame builders (replies and module answers). Each seed
// is small and well formed, or a near miss, so that the fuzzer reaches every branch early.
//
//   cmake --preset fuzz && cmake --build --preset fuzz --target fuzz-seeds
//   rm -rf fuzz/corpus && build/fuzz/fuzz/fuzz-seeds fuzz/corpus
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "StreamZip.h"
#include "fwu/DemoPackage.h"
#include "fwu/FwuWriter.h"
#include "fwu/HexWriter.h"
#include "package/WorkFolder.h"
#include "protocols/FpgaConfig.h"
#include "protocols/Gen2Frames.h"
#include "protocols/IntelHex.h"
#include "protocols/VELKUSB_ADC.h"

namespace fs = std::filesystem;
using namespace rovenza;

namespace {

using Bytes = std::vector<std::uint8_t>;

fs::path gOut;

void Write(const std::string& target, const std::string& name, const std::string& bytes) {
    const fs::path folder = gOut / target;
    fs::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush()) throw std::runtime_error("cannot write " + (folder / name).string());
}

std::string Text(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

// A HEX text without its end-of-file record, to be continued.
std::string Unended(const std::string& hex) {
    constexpr std::string_view kEnd = ":00000001FF\r\n";
    return hex.substr(0, hex.size() - kEnd.size());
}
constexpr const char* kEndRecord = ":00000001FF\r\n";
constexpr const char* kSegmentRecord = ":020000021000EC\r\n";  // extended segment address 0x1000

void Packages() {
    const std::string target = "fuzz_zip_extract";
    const std::string manifest = ManifestText(4);
    const std::string hex = WriteIntelHex(DemoImage(48, 1));
    WriteFwu(gOut / target / "deflated.fwu",
             {{std::string(kManifestFileName), manifest}, {std::string(kPicUsbHexName), hex}});
    WriteFwu(gOut / target / "stored.fwu", {{"images/", "", false},
                                            {"images/FPGA.HEX", WriteHexPairs(DemoImage(64, 2)), false},
                                            {"C:bootload.INI", ManifestText(1), false}});
    Write(target, "streamed.zip",
          BuildStreamZip({{kManifestFileName.data(), manifest, true, true, true},
                          {kUlmoCanHexName.data(), hex, false, true, false}}));
    Write(target, "zip64.zip",
          BuildStreamZip({{kUsbBinName.data(), Text(DemoImage(40, 3)), false, false, false, true},
                          {kFpgaBinName.data(), Text(DemoImage(40, 4)), true, true, true, true}}));
}

void HexImages() {
    const std::string config = Unended(WriteIntelHex(DemoImage(14, 10), 0x300000, 14));  // PIC18 configuration bytes
    const std::string tiny = WriteIntelHex(DemoImage(24, 11), 0, 8);  // nothing reaches a window: refused

    const std::string usb = Unended(WriteIntelHex(DemoImage(kUsbImageLayout.windowStart + 16, 12), 0, 64));
    Write("fuzz_hex_usb", "image.hex", usb + config + kSegmentRecord + kEndRecord);
    Write("fuzz_hex_usb", "short.hex", tiny);

    const std::string can = WriteIntelHex(DemoImage(kCanImageLayout.windowStart + 16, 13), 0, 64);
    Write("fuzz_hex_can", "image.hex", Unended(can) + config + kEndRecord);
    Write("fuzz_hex_can", "segment.hex", Unended(tiny) + kSegmentRecord + kEndRecord);

    const std::string module = Unended(WriteIntelHex(DemoImage(kModuleImageStart + 16, 14), 0, 64));
    Write("fuzz_hex_module", "image.hex", module + kSegmentRecord);
    Write("fuzz_hex_module", "short.hex", tiny);
}

void FpgaTexts() {
    Write("fuzz_fpga_text", "blocks.hex", WriteHexPairs(DemoImage(2 * kFpgaBlockSize, 20)));
    Write("fuzz_fpga_text", "partial.hex", WriteHexPairs(DemoImage(kFpgaBlockSize + 5, 21)) + "\r\n \t\r\n");
}

void Manifests() {
    Write("fuzz_manifest", "plain.ini", ManifestText(4));
    Write("fuzz_manifest", "settings.ini",
          ManifestText(3, {{std::string(kManifestFPGABitSwapKey), "0x1"}, {std::string(kManifestFPGAPowerONKey), "$FFFFFFFF"}}));
    Write("fuzz_manifest", "edited.ini",
          "\xEF\xBB\xBF; edited by hand\n[ info ]\n  devicetype =  -2147483648 \nDeviceType=5\n[Settings]\n"
          "FPGABitSwap=+0000000001\n[INFO]\nDeviceType=2\n");
}

void BenchFiles() {
    Write("fuzz_bench_file", "faults.json",
          R"({ "clock": "virtual", "latencyUs": 0, "_note": "one instrument",
  "instruments": [ { "family": "VK101 Power Controller", "serial": "PC000001", "mode": "bootloader",
    "faults": [ { "request": "READ_FLASH", "occurrence": 17, "action": "corrupt" },
                { "request": "open", "action": "fail", "code": 31, "on": "read" },
                { "request": "0x54", "action": "short", "length": 20, "slot": 3 } ] } ] }
)");
    Write("fuzz_bench_file", "families.json",
          R"({ "clock": "real", "instruments": [
  { "family": "IRIG Clock", "serial": "IC-1", "restartMs": 2500, "bootResetMs": 3000, "fpgaResetMs": 3000,
    "prmdMs": 1200, "name": "IRIG-CLOCK", "arrivesMs": 1000 },
  { "family": "ulmo", "serial": "UL_1" },
  { "family": "Velkaro USB", "serial": "TV000001", "eraseMs": 6000,
    "faults": [ { "request": "GET_STATUS", "action": "busy" } ] },
  { "family": "VKUSB Zenara - Modules", "serial": "ZN000001", "i2cLatencyUs": 700, "slotMask": 0,
    "modules": ["IEPE", "BR", null, 7, "LV", "HV", "MULTIMP", "IEPE CNT"] } ] }
)");
}

void Gen2Replies() {
    const auto seed = [](std::uint8_t asked, Bytes reply) {
        reply.insert(reply.begin(), asked);
        return Text(reply);
    };
    Write("fuzz_gen2_replies", "status", seed(kStatusReplySize, {0x00, 0x00, 0x01, 0x00, 0x01}));
    const WordFrame words = PackWordFrame({3, 0xA5010000u, 0});
    Bytes poll{0x01};
    poll.insert(poll.end(), words.begin(), words.end());
    poll.resize(kGen2ReplyLimit, 0);
    Write("fuzz_gen2_replies", "poll", seed(0, poll));
    Write("fuzz_gen2_replies", "memread", seed(kMemChunkLimit, DemoImage(kMemChunkLimit, 30)));
    Write("fuzz_gen2_replies", "identity", seed(kSerialBlockSize, DemoImage(kSerialBlockSize + 3, 31)));
}

// The answer reads of a module sending `frame` (given as its words, four bytes each).
std::string AnswerReads(const std::vector<std::uint32_t>& frameWords, std::size_t frameSize) {
    std::string out;
    for (std::size_t at = 0; at < frameSize; at += 8) {
        const std::uint32_t count = static_cast<std::uint32_t>(frameSize - at < 8 ? frameSize - at : 8);
        const std::size_t word = at / 4;
        const WordFrame frame = PackWordFrame(
            {count, frameWords[word], word + 1 < frameWords.size() ? frameWords[word + 1] : 0});
        out.append(frame.begin(), frame.end());
    }
    return out;
}

void ModuleAnswers() {
    // An answer frame has the command frame's shape with the status where the code stands.
    const auto answer = [](std::uint8_t status, const Bytes& payload) {
        return AnswerReads(ModuleCommandWords(status, payload), ModuleCommandFrame(status, payload).size());
    };
    Write("fuzz_module_answer", "type", answer(0, {0x04}));
    Write("fuzz_module_answer", "busy", answer(kModuleStatusBusy, DemoImage(9, 40)));
    Write("fuzz_module_answer", "refused", answer(0x03, {}));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: fuzz-seeds OUTPUT_FOLDER\n");
        return 2;
    }
    try {
        gOut = argv[1];
        fs::create_directories(gOut / "fuzz_zip_extract");
        Packages();
        HexImages();
        FpgaTexts();
        Manifests();
        BenchFiles();
        Gen2Replies();
        ModuleAnswers();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz-seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
