#include "ModuleBridge.h"

#include <algorithm>
#include <cstdio>

namespace rovenza::sim {

namespace {

std::uint32_t Word(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) << 24 | static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

void PutWord(Bytes& bytes, std::uint32_t word) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(word >> shift));
}

Bytes AnswerFrame(std::uint8_t status, const Bytes& payload) {
    Bytes frame{kFrameStart, static_cast<std::uint8_t>(payload.size() + 1), status};
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(kFrameEnd);
    return frame;
}

}  // namespace

std::uint32_t ModuleFlashSize(int typeCode) {
    std::uint32_t image = 0;
    if (const ModuleTypeEntry* type = FindModuleType(typeCode))
        image = type->imageLength;
    else
        for (const auto& entry : kModuleTypes) image = std::max(image, entry.imageLength);
    return kModuleImageBase + image + kModuleGroupBytes;
}

std::string ModuleCommandName(std::uint8_t code) {
    char name[8];
    std::snprintf(name, sizeof name, "0x%02X", code);
    return name;
}

std::uint8_t AmplifierModule::OldModuleByte(std::uint32_t address) {
    return static_cast<std::uint8_t>((address * 7 + 0x3C) ^ (address >> 7));
}

AmplifierModule::AmplifierModule(int typeCode, const Bytes* flash) : typeCode_(typeCode), flash_(ModuleFlashSize(typeCode)) {
    for (std::uint32_t a = 0; a < flash_.size(); ++a) flash_[a] = OldModuleByte(a);
    if (flash) std::copy_n(flash->begin(), std::min(flash->size(), flash_.size()), flash_.begin());
}

std::optional<Bytes> AmplifierModule::feed(std::uint32_t word) {
    PutWord(received_, word);
    for (;;) {
        const auto start = std::find(received_.begin(), received_.end(), kFrameStart);
        received_.erase(received_.begin(), start);
        if (received_.size() < 2) return std::nullopt;
        const std::size_t length = received_[1];
        if (received_.size() < length + 3) return std::nullopt;
        if (length == 0 || received_[length + 2] != kFrameEnd) {
            received_.erase(received_.begin());  // not a frame: look for the next start mark
            continue;
        }
        Bytes body(received_.begin() + 2, received_.begin() + 2 + static_cast<std::ptrdiff_t>(length));
        received_.erase(received_.begin(), received_.begin() + 3 + static_cast<std::ptrdiff_t>(length));
        return body;
    }
}

std::uint8_t AmplifierModule::block(const Bytes& payload, bool carryOut, bool& checksumAnswer) {
    const std::uint32_t address = static_cast<std::uint32_t>(payload[0] << 8 | payload[1]);
    const std::uint32_t group = address / kModuleGroupBytes;
    const std::uint32_t index = address % kModuleGroupBytes / kModuleBlockData;
    if (group != group_) {
        group_ = group;
        blockXor_.fill(std::nullopt);
    }
    if (carryOut) {
        std::uint8_t x = 0;
        for (std::uint32_t i = 0; i < kModuleBlockData; ++i) {
            const std::uint8_t byte = payload[2 + i];
            x ^= byte;
            if (address + i < flash_.size()) flash_[address + i] = byte;
        }
        blockXor_[index] = x;
        ++blocksStored_;
    }
    checksumAnswer = index == kModuleGroupBlocks - 1;
    std::uint8_t checksum = 0;
    for (const auto& x : blockXor_) checksum ^= x.value_or(0);
    return checksum;
}

void AmplifierModule::execute(const Bytes& body, const std::optional<FaultRule>& fault, std::int64_t nowUs) {
    const std::uint8_t code = body[0];
    const Bytes payload(body.begin() + 1, body.end());
    const bool failed = fault && fault->action == FaultAction::Fail;
    std::uint8_t status = 0;
    Bytes data;
    std::uint32_t workMs = 0;
    switch (code) {
        case kModuleTypeQuery:
            data.push_back(static_cast<std::uint8_t>(typeCode_));
            break;
        case kModuleEnterProgramming:
            if (!failed) programming_ = true;
            workMs = kModuleModeWorkMs;
            break;
        case kModuleLeaveProgramming:
            if (!failed) programming_ = false;
            workMs = kModuleModeWorkMs;
            break;
        case kModuleBlock: {
            const bool wellFormed = payload.size() == 2 + kModuleBlockData;
            if (!programming_ || !wellFormed || (payload[0] << 8 | payload[1]) < static_cast<int>(kModuleImageBase)) {
                status = kModuleStatusRefused;
                break;
            }
            bool checksumAnswer = false;
            std::uint8_t checksum = block(payload, !failed, checksumAnswer);
            // A wrong checksum, or with a length of 2 or more the right one followed by zeros:
            // an answer longer than the one byte a group's checksum takes.
            const bool spoiled = fault && fault->action == FaultAction::BadChecksum;
            const std::size_t answerBytes = spoiled ? std::max<std::size_t>(1, fault->length.value_or(1)) : 1;
            if (spoiled && answerBytes == 1) checksum ^= 0xFF;
            if (checksumAnswer) {
                data.push_back(checksum);
                data.resize(answerBytes, 0x00);
                workMs = kModuleGroupWorkMs;
            }
            break;
        }
        default:
            status = kModuleStatusRefused;
            break;
    }
    if (failed) status = (fault->code & 0xFF) != 0 ? static_cast<std::uint8_t>(fault->code & 0xFF) : kModuleStatusRefused;
    answer_ = AnswerFrame(status, data);
    answerReadyAtUs_ = nowUs + static_cast<std::int64_t>(workMs) * 1000;
    bridgeSilent_ = false;
    countOverflow_ = false;
    if (!fault) return;
    const bool onRead = fault->on == FaultSide::Read;
    switch (fault->action) {
        case FaultAction::Corrupt:
            if (onRead)
                countOverflow_ = true;
            else
                answer_[std::min<std::size_t>(fault->byte.value_or(0), answer_.size() - 1)] ^= 0xA5;
            break;
        case FaultAction::Short:
            answer_.resize(std::min<std::size_t>(answer_.size(), fault->length.value_or(answer_.size() - 1)));
            break;
        case FaultAction::Timeout:
            if (onRead)
                bridgeSilent_ = true;
            else
                answer_.clear();
            break;
        default:
            break;
    }
}

Bytes AmplifierModule::read(std::size_t max, std::int64_t nowUs) {
    if (nowUs < answerReadyAtUs_) return {};
    const std::size_t n = std::min(max, answer_.size());
    Bytes out(answer_.begin(), answer_.begin() + static_cast<std::ptrdiff_t>(n));
    answer_.erase(answer_.begin(), answer_.begin() + static_cast<std::ptrdiff_t>(n));
    return out;
}

ModuleBridge::ModuleBridge(const InstrumentSpec& setup) : latencyUs_(setup.i2cLatencyUs), mask_(setup.slotMask) {
    for (int slot = 0; slot < kModuleSlots; ++slot) {
        const auto flash = setup.memories.find("module" + std::to_string(slot + 1));
        if (setup.modules[slot])
            modules_[slot].emplace(*setup.modules[slot], flash == setup.memories.end() ? nullptr : &flash->second);
    }
}

AmplifierModule* ModuleBridge::reachable(std::uint32_t slot) {
    if (slot >= kModuleSlots || !(mask_ >> slot & 1) || !modules_[slot]) return nullptr;
    return &*modules_[slot];
}

std::optional<FaultAction> ModuleBridge::write(Packet frame, std::int64_t nowUs, FaultPlan& faults) {
    reply_.reset();
    if (frame.size() < 3u + kWordFrameLength || frame[1] != kBridgeAddress || frame[2] != kWordFrameLength)
        return std::nullopt;
    std::optional<FaultAction> struck;
    const std::uint32_t command = Word(frame, 3), first = Word(frame, 7), second = Word(frame, 11);
    std::array<std::uint32_t, 3> words{};
    switch (command) {
        case kWordWriteModule: {
            AmplifierModule* module = reachable(first);
            if (!module) return std::nullopt;
            if (const auto body = module->feed(second)) {
                const auto rule = faults.next(ModuleCommandName((*body)[0]), static_cast<int>(first) + 1);
                if (rule) struck = rule->action;
                module->execute(*body, rule, nowUs);
            }
            break;
        }
        case kWordReadModule: {
            AmplifierModule* module = reachable(first);
            if (!module || module->bridgeSilent()) return std::nullopt;
            Bytes bytes = module->read(2 * 4, nowUs);
            words[0] = module->takeCountOverflow() ? 9 : static_cast<std::uint32_t>(bytes.size());
            bytes.resize(2 * 4, 0);
            words[1] = Word(bytes, 0);
            words[2] = Word(bytes, 4);
            break;
        }
        case kWordSetSlotMask:
            mask_ = static_cast<std::uint8_t>(first & 0xFF);
            words[0] = mask_;
            break;
        case kWordGetSlotMask:
            words[0] = mask_;
            break;
        default:
            return std::nullopt;
    }
    reply_ = words;
    readyAtUs_ = nowUs + static_cast<std::int64_t>(latencyUs_);
    return struck;
}

void ModuleBridge::poll(std::int64_t nowUs, ReplyBytes& out) const {
    if (!reply_ || nowUs < readyAtUs_) {
        out.resize(1 + kWordFrameLength, 0);
        return;
    }
    out.push_back(0x01);
    for (const std::uint32_t word : *reply_)
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(word >> shift));
}

}  // namespace rovenza::sim
