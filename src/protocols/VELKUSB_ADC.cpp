#include "VELKUSB_ADC.h"

#include <algorithm>
#include <cstdio>

namespace rovenza {

std::vector<std::uint8_t> ModuleCommandFrame(std::uint8_t code, const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> frame(payload.size() + 4);
    frame[0] = kModuleFrameStart;
    frame[1] = static_cast<std::uint8_t>(payload.size() + 1);
    frame[2] = code;
    std::copy(payload.begin(), payload.end(), frame.begin() + 3);
    frame.back() = kModuleFrameEnd;
    return frame;
}

std::vector<std::uint32_t> ModuleCommandWords(std::uint8_t code, const std::vector<std::uint8_t>& payload) {
    const auto frame = ModuleCommandFrame(code, payload);
    std::vector<std::uint32_t> words((frame.size() + 3) / 4, 0);
    for (std::size_t i = 0; i < frame.size(); ++i)
        words[i / 4] |= std::uint32_t{frame[i]} << (24 - 8 * (i % 4));
    return words;
}

std::vector<std::uint8_t> ModuleAnswerBytes(const Words& read) {
    std::uint32_t first = read.w1;
    std::uint32_t second = read.w2;
    // The bytes travel most significant first; swapped, the lowest byte is the first one.
    SwapWord(first);
    SwapWord(second);
    std::vector<std::uint8_t> bytes;
    const std::uint32_t count = read.w0 < 8 ? read.w0 : 8;
    for (std::uint32_t i = 0; i < count; ++i)
        bytes.push_back(static_cast<std::uint8_t>((i < 4 ? first : second) >> (8 * (i % 4))));
    return bytes;
}

ModuleCheck CheckAcknowledgement(const Words& read) {
    if (read.w0 < 3 || (read.w1 >> 24) != kModuleFrameStart) return {kModuleNotAcknowledged, true};
    if ((read.w1 >> 8 & 0xFF) != 0) return {kModuleRefused, false};
    return {};
}

ModuleCheck ParseModuleAnswer(const std::vector<std::uint8_t>& collected, std::vector<std::uint8_t>& payload) {
    std::size_t p = 0;
    while (p < collected.size() && collected[p] != kModuleFrameStart) ++p;
    if (p == collected.size()) return {kModuleNoAnswer, true};
    // The status and at least one byte after it.
    if (p + 3 >= collected.size()) return {kModuleNoAnswer, false};
    const std::uint8_t status = collected[p + 2];
    if (status != 0 && status != kModuleStatusBusy) return {kModuleNoAnswer, false};
    const std::uint8_t length = collected[p + 1];
    if (length == 0) return {kModuleNoAnswer, false};
    const std::size_t begin = p + 3;
    const std::size_t end = begin + (length - 1u);
    if (end >= collected.size()) return {kModuleNoAnswer, false};
    payload.assign(collected.begin() + static_cast<std::ptrdiff_t>(begin),
                   collected.begin() + static_cast<std::ptrdiff_t>(end));
    if (status == kModuleStatusBusy) return {kModuleStatusBusy, true};
    return {};
}

namespace {

std::string Hex(std::uint8_t code) {
    char text[4];
    std::snprintf(text, sizeof text, "%X", code);
    return text;
}

const char* CallName(ModuleCall call) {
    return call == ModuleCall::SendCmd ? "VELKUSB_AMPL_SendCmd" : "VELKUSB_AMPL_SendReadCmd";
}

}  // namespace

std::string RetransmitLine(ModuleCall call, std::uint8_t code) {
    return std::string("Retransmit ") + CallName(call) + " - " + Hex(code);
}

std::string ModuleErrorLine(ModuleCall call, std::uint8_t code) {
    return std::string("ERROR - ") + CallName(call) + " - " + Hex(code);
}

}  // namespace rovenza
