// The I/O control requests: dispatch by control code, and the write, read and reset requests
// against the instrument models, with the fault rules applied.
#include <algorithm>
#include <array>
#include <cstring>

#include "Bench.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza::sim {

namespace {

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<std::uint32_t>(p[3]) << 24;
}

// The recorder's names of the calls by control code, and their place among them.
constexpr std::array<std::string_view, 6> kCallNames{"write", "read", "reset", "write2", "read2", "ioctl"};

std::size_t CallIndex(std::uint32_t code) {
    switch (code) {
        case kIoctlWrite: return 0;
        case kIoctlRead: return 1;
        case kIoctlReset: return 2;
        case kIoctlWrite2: return 3;
        case kIoctlRead2: return 4;
        default: return 5;
    }
}

std::string_view CallName(std::uint32_t code) { return kCallNames[CallIndex(code)]; }

int GenerationOf(std::uint32_t code) {
    if (code == kIoctlWrite || code == kIoctlRead || code == kIoctlReset) return 1;
    if (code == kIoctlWrite2 || code == kIoctlRead2) return 2;
    return 0;
}

// Control codes of the second generation ask for read and write access (access bits 3).
bool AccessAllows(std::uint32_t code, std::uint32_t access) {
    const std::uint32_t required = code >> 14 & 3;
    if ((required & 1) && !(access & kGenericRead)) return false;
    if ((required & 2) && !(access & kGenericWrite)) return false;
    return true;
}

}  // namespace

bool Bench::fail(Request& request, std::uint32_t code) {
    request.error = code;
    return false;
}

void Bench::wait(Request& request, std::int64_t us, WaitEnd end) {
    if (us <= 0) return;
    const auto waitOut = [&] {
        if (end == WaitEnd::PeriodEnd)
            time_.waitPeriodEnd(us);
        else
            time_.waitUs(us);
    };
    if (!realTime_) {
        waitOut();
        return;
    }
    request.lock.unlock();
    // Locks again also when the clock's wait throws.
    struct Relock {
        std::unique_lock<std::mutex>& lock;
        ~Relock() { lock.lock(); }
    } relock{request.lock};
    waitOut();
}

bool Bench::ioControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                      std::uint32_t outSize, std::uint32_t& bytesReturned, std::uint32_t& error) {
    std::unique_lock lock(mutex_);
    const std::int64_t start = time_.nowUs();
    updateLocked(start);
    bytesReturned = 0;
    error = 0;
    const auto* input = static_cast<const std::uint8_t*>(in);
    Request request{input, inSize, static_cast<std::uint8_t*>(out), outSize, bytesReturned, error, lock};

    bool ok = false;
    const auto it = handles_.find(handle);
    if (it == handles_.end())
        ok = fail(request, kErrorInvalidHandle);
    else
        ok = dispatch(it->second, code, request);

    // A recorder that neither keeps nor logs its records counts the call, and that is all.
    if (!recorder_.wantsRecords()) {
        recorder_.tally(tallyOf(code, request.command));
        return ok;
    }
    RecordedRequest record;
    record.timeUs = start;
    record.durationUs = time_.nowUs() - start;
    record.handle = handle;
    record.call = CallName(code);
    record.controlCode = code;
    if (input && inSize > 0) record.input.assign(input, input + inSize);
    if (it != handles_.end()) {
        record.path = it->second.path;
        record.serial = it->second.instrument->serial();
    }
    record.command = CommandName(request.command);
    if (request.sent) record.sent.assign(request.out, request.out + outSize);
    record.received.assign(request.out, request.out + bytesReturned);
    record.replyLimit = request.replyLimit;
    record.result = error;
    record.fault = request.fault;
    recorder_.add(std::move(record));
    return ok;
}

std::size_t& Bench::tallyOf(std::uint32_t code, Command command) {
    std::size_t*& count = tallies_[CallIndex(code)][static_cast<std::size_t>(command)];
    if (!count) count = &recorder_.counter(CallName(code), CommandName(command));
    return *count;
}

bool Bench::dispatch(OpenHandle& handle, std::uint32_t code, Request& request) {
    if ((!request.in && request.inSize > 0) || (!request.out && request.outSize > 0))
        return fail(request, kErrorInvalidParameter);
    if (GenerationOf(code) != handle.instrument->generation()) return fail(request, kErrorInvalidFunction);
    if (!AccessAllows(code, handle.access)) return fail(request, kErrorAccessDenied);
    if (code == kIoctlWrite || code == kIoctlWrite2) return writeRequest(handle, request);
    if (code == kIoctlRead || code == kIoctlRead2) return readRequest(handle, request);
    return resetRequest(handle, request);
}

bool Bench::writeRequest(OpenHandle& handle, Request& request) {
    Instrument& instrument = *handle.instrument;
    // The first generation's 4-byte input carries no parameter; such a write times out after
    // the default.
    const bool pipeWordOnly = request.inSize == 4 && instrument.generation() == 1;
    if (request.inSize != 8 && !pipeWordOnly) return fail(request, kErrorInvalidParameter);
    if (Le32(request.in) != kPipeWrite) return fail(request, kErrorInvalidParameter);
    const std::uint32_t parameter = pipeWordOnly ? kDefaultParameter : Le32(request.in + 4);
    const Packet packet(request.out, request.outSize);
    request.sent = true;
    const Command command = instrument.recognise(packet);
    const CommandInfo& info = Info(command);
    request.command = command;
    handle.lastCommand = command;
    handle.readFault.reset();
    // A bridge poll is a USB round trip however small the bench's latency: it ends with the
    // microframe it is in (kMinPollUs of bench time, counted from the bench's start), so a host
    // polling for a reply that never becomes ready reaches its time-out instead of spinning at
    // one instant. It counts as a whole microframe waited: on the real clock the host's own time
    // between polls falls inside the microframes, as it does on a real bus.
    if (command == Command::I2cPoll && latencyUs_ < kMinPollUs)
        wait(request, kMinPollUs, WaitEnd::PeriodEnd);
    else
        wait(request, latencyUs_);
    if (!alive(handle)) return fail(request, kErrorDeviceNotConnected);

    std::optional<FaultRule> rule;
    if (command != Command::None) rule = instrument.faults().next(command);
    if (rule) {
        request.fault = ActionName(rule->action);
        const bool strikesWrite = rule->on == FaultSide::Write;
        switch (rule->action) {
            case FaultAction::Fail:
                if (strikesWrite) return fail(request, rule->code);
                handle.readFault = rule;
                break;
            case FaultAction::Timeout:
                if (strikesWrite) {
                    wait(request, static_cast<std::int64_t>(parameter) * 1000);
                    return fail(request, kErrorTimeout);
                }
                handle.readFault = rule;
                break;
            case FaultAction::Vanish:
                if (strikesWrite) {
                    instrument.vanish();
                    return fail(request, kErrorDeviceNotConnected);
                }
                handle.readFault = rule;
                break;
            case FaultAction::Never: instrument.setNeverReturn(); break;
            default: break;
        }
    }

    FaultEffect effect;
    effect.corruptMemory = rule && rule->action == FaultAction::Corrupt && info.corruption == Corruption::Memory;
    if (effect.corruptMemory) effect.corruptByte = rule->byte;
    effect.busy = rule && rule->action == FaultAction::Busy;
    instrument.receive(command, packet, time_.nowUs(), effect);
    if (!instrument.innerFault().empty()) request.fault = instrument.innerFault();
    if (auto& pending = instrument.pending(); pending && rule) {
        const std::size_t at = rule->byte.value_or(info.corruptOffset);
        if (rule->action == FaultAction::Corrupt && info.corruption == Corruption::ReplyByte && at < pending->bytes.size())
            pending->bytes[at] ^= 0x01;
        if (rule->action == FaultAction::Short)
            pending->bytes.resize(std::min<std::size_t>(pending->bytes.size(),
                                                        rule->length.value_or(pending->bytes.size() / 2)));
    }
    return true;
}

bool Bench::readRequest(OpenHandle& handle, Request& request) {
    if (request.inSize != 8 || Le32(request.in) != kPipeRead) return fail(request, kErrorInvalidParameter);
    const std::uint32_t parameter = Le32(request.in + 4);
    request.command = handle.lastCommand;
    request.replyLimit = request.outSize;
    wait(request, latencyUs_);
    if (!alive(handle)) return fail(request, kErrorDeviceNotConnected);

    Instrument& instrument = *handle.instrument;
    auto& pending = instrument.pending();
    if (handle.readFault) {
        const FaultRule rule = *handle.readFault;
        handle.readFault.reset();
        request.fault = ActionName(rule.action);
        pending.reset();  // the reply is lost
        switch (rule.action) {
            case FaultAction::Fail: return fail(request, rule.code);
            case FaultAction::Vanish:
                instrument.vanish();
                return fail(request, kErrorDeviceNotConnected);
            default:
                wait(request, static_cast<std::int64_t>(parameter) * 1000);
                return fail(request, kErrorTimeout);
        }
    }
    if (!pending) {
        wait(request, static_cast<std::int64_t>(parameter) * 1000);
        return fail(request, kErrorTimeout);
    }
    const std::int64_t waitUs = pending->readyAtUs - time_.nowUs();
    if (waitUs > static_cast<std::int64_t>(parameter) * 1000) {
        wait(request, static_cast<std::int64_t>(parameter) * 1000);  // the reply stays pending: it is not ready yet
        return fail(request, kErrorTimeout);
    }
    wait(request, waitUs);
    // Only the handle's own thread sends the instrument commands, so the reply is still there.
    if (!pending) return fail(request, kErrorTimeout);
    const std::size_t count = std::min<std::size_t>(request.outSize, pending->bytes.size());
    if (count > 0) std::memcpy(request.out, pending->bytes.data(), count);
    request.bytesReturned = static_cast<std::uint32_t>(count);
    pending.reset();
    return true;
}

bool Bench::resetRequest(OpenHandle& handle, Request& request) {
    if (request.inSize != 4) return fail(request, kErrorInvalidParameter);
    const std::uint32_t pipe = Le32(request.in);
    if (pipe != kPipeWrite && pipe != kPipeRead) return fail(request, kErrorInvalidParameter);
    wait(request, latencyUs_);
    if (!alive(handle)) return fail(request, kErrorDeviceNotConnected);
    if (pipe == kPipeRead) handle.instrument->pending().reset();
    return true;
}

}  // namespace rovenza::sim
