#include "VELKUSB_AMPL.h"

#include <string>

namespace rovenza {

namespace {

// Where the payload check stands in the channel's unit, as the debugger line names it.
constexpr const char* kAssertUnit = "VELKUSB_ADC";
constexpr int kAssertLine = 604;

[[noreturn]] void AssertionFailure(const Context& ctx) {
    const std::string line =
        std::string("Assertion failure (") + kAssertUnit + ", line " + std::to_string(kAssertLine) + ")";
    ctx.debug.write(line);
    throw EAssertionFailed(line);
}

// Sends the frame word by word; the first failing write ends it.
std::uint32_t SendFrame(const Context& ctx, Handle handle, std::uint8_t slot, std::uint8_t code,
                        const Bytes& payload) {
    for (const std::uint32_t word : ModuleCommandWords(code, payload))
        if (const auto result = WriteModuleWord(ctx, handle, slot, word)) return result;
    return 0;
}

// The start of an attempt: the retransmission is announced (unless quiet) and waits longer.
std::uint32_t BeginAttempt(const Context& ctx, int attempt, std::uint32_t waitMs, bool announce, ModuleCall call,
                           std::uint8_t code) {
    if (attempt == 0) return waitMs;
    if (announce) ctx.debug.write(RetransmitLine(call, code));
    ctx.clock.sleep(kRetransmitPauseMs);
    return RetransmitWait(waitMs);
}

}  // namespace

std::uint32_t VELKUSB_AMPL_SendCmd(const Context& ctx, Handle handle, std::uint8_t slot, std::uint8_t code,
                                   const Bytes& payload, std::uint32_t waitMs, bool noAnswer) {
    if (payload.size() > kModuleCommandPayloadLimit) AssertionFailure(ctx);
    std::uint32_t result = 0;
    int attempt = 0;
    for (; attempt < 2; ++attempt) {
        const std::uint32_t wait = BeginAttempt(ctx, attempt, waitMs, true, ModuleCall::SendCmd, code);
        if (const auto sent = SendFrame(ctx, handle, slot, code, payload)) return sent;
        if (wait > 0) ctx.clock.sleep(wait);
        if (noAnswer) return 0;

        Words first;
        result = ReadModuleWords(ctx, handle, slot, first);
        if (result == 0 && first.w0 == 8) {
            Words rest;  // the rest of the acknowledgement, not looked at
            result = ReadModuleWords(ctx, handle, slot, rest);
        }
        if (result == 0) {
            const ModuleCheck check = CheckAcknowledgement(first);
            if (check.result != 0 && !check.retry) return check.result;
            result = check.result;
        }
        if (result == 0) break;
    }
    if (attempt == 2) ctx.debug.write(ModuleErrorLine(ModuleCall::SendCmd, code));
    return result;
}

std::uint32_t VELKUSB_AMPL_SendReadCmd(const Context& ctx, Handle handle, std::uint8_t slot, std::uint8_t code,
                                       Bytes& answer, const Bytes& payload, std::uint32_t waitMs) {
    std::uint32_t result = 0;
    int attempt = 0;
    for (; attempt < 2; ++attempt) {
        answer.clear();
        const std::uint32_t wait =
            BeginAttempt(ctx, attempt, waitMs, code != kQuietRetransmitCode, ModuleCall::SendReadCmd, code);
        if (const auto sent = SendFrame(ctx, handle, slot, code, payload)) return sent;
        if (wait > 0) ctx.clock.sleep(wait);

        Bytes collected;
        Words read{8, 0, 0};
        result = 0;
        for (int reads = 0; result == 0 && read.w0 == 8; ++reads) {
            if (reads == kModuleAnswerReadLimit) {
                result = kModuleNoAnswer;
                break;
            }
            result = ReadModuleWords(ctx, handle, slot, read);
            if (result == 0) {
                const auto bytes = ModuleAnswerBytes(read);
                collected.insert(collected.end(), bytes.begin(), bytes.end());
            }
        }
        if (result == 0) {
            const ModuleCheck check = ParseModuleAnswer(collected, answer);
            if (check.result != 0 && !check.retry) return check.result;
            result = check.result;
        }
        if (result == 0) break;
    }
    if (attempt == 2) ctx.debug.write(ModuleErrorLine(ModuleCall::SendReadCmd, code));
    return result;
}

std::uint32_t EnableModuleSlots(const Context& ctx, Handle handle, int count) {
    std::uint32_t mask = 0;
    std::uint32_t result = I2cQueryWord(ctx, handle, static_cast<std::uint32_t>(ModuleWordCommand::QuerySlotMask),
                                        0xFFFFFFFFu, 0xFFFFFFFFu, kI2cPollLimitSeconds, mask);
    if (mask != 0 && mask != 0xFFFFFFFFu) return result;
    mask = 0;
    for (int i = 0; i < count; ++i) {
        mask = 2 * mask + 1;
        const auto written = I2cWriteWords(ctx, handle, static_cast<std::uint32_t>(ModuleWordCommand::SetSlotMask),
                                           mask, 0xFFFFFFFFu);
        if (result == 0) result = written;
        ctx.clock.sleep(kSlotMaskPauseMs);
    }
    return result;
}

}  // namespace rovenza
