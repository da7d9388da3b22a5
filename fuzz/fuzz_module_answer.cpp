// The module answer parser. The input is the bridge's answer reads, 12 bytes each (three
// words, as an I2C poll carries them); they are collected as the read command collects them,
// while a read says 8 valid bytes, for at most kModuleAnswerReadLimit reads. The first read is
// also checked as an acknowledgement, and the whole input parsed as collected bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzInput.h"
#include "protocols/VELKUSB_ADC.h"

using namespace rovenza;

namespace {

void Parse(const std::vector<std::uint8_t>& collected) {
    const std::vector<std::uint8_t> untouched{0xEE};
    std::vector<std::uint8_t> payload = untouched;
    const ModuleCheck check = ParseModuleAnswer(collected, payload);
    if (check.result == 0 || check.result == kModuleStatusBusy) {
        FUZZ_CHECK(check.retry == (check.result == kModuleStatusBusy));
        const auto start = std::find(collected.begin(), collected.end(), kModuleFrameStart);
        FUZZ_CHECK(collected.end() - start > 3);
        FUZZ_CHECK(start[2] == check.result && start[1] > 0 && payload.size() == start[1] - 1u);
        FUZZ_CHECK(std::equal(payload.begin(), payload.end(), start + 3));
        FUZZ_CHECK(collected.end() - (start + 3) > static_cast<std::ptrdiff_t>(payload.size()));
    } else {
        FUZZ_CHECK(check.result == kModuleNoAnswer && payload == untouched);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> collected;
    Words read{8, 0, 0};
    for (int reads = 0; read.w0 == 8 && reads < kModuleAnswerReadLimit; ++reads) {
        const std::size_t at = static_cast<std::size_t>(reads) * kWordFrameSize;
        if (at + kWordFrameSize > size) break;
        WordFrame frame;
        std::copy(data + at, data + at + kWordFrameSize, frame.begin());
        read = UnpackWordFrame(frame);
        if (reads == 0) {
            const ModuleCheck ack = CheckAcknowledgement(read);
            const ModuleCheck notAcknowledged{kModuleNotAcknowledged, true};
            const ModuleCheck refused{kModuleRefused, false};
            FUZZ_CHECK(ack == ModuleCheck{} || ack == notAcknowledged || ack == refused);
        }
        const std::vector<std::uint8_t> bytes = ModuleAnswerBytes(read);
        FUZZ_CHECK(bytes.size() == std::min<std::uint32_t>(read.w0, 8));
        if (!bytes.empty()) FUZZ_CHECK(bytes[0] == read.w1 >> 24);
        collected.insert(collected.end(), bytes.begin(), bytes.end());
    }
    Parse(collected);
    Parse(std::vector<std::uint8_t>(data, data + size));
    return 0;
}
