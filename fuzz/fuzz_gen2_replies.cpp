// The second-generation reply decoders. The first input byte is what the host asked for (a
// byte count); the rest is the instrument's reply.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "FuzzInput.h"
#include "protocols/Gen2Frames.h"

using namespace rovenza;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t asked = data[0];
    const std::vector<std::uint8_t> reply(data + 1, data + size);

    WordFrame frame{};
    if (DecodeI2cPollReply(reply, frame)) {
        FUZZ_CHECK(reply.size() > kWordFrameSize && reply[0] != 0);
        FUZZ_CHECK(std::equal(frame.begin(), frame.end(), reply.begin() + 1));
        FUZZ_CHECK(PackWordFrame(UnpackWordFrame(frame)) == frame);
    }

    Gen2Status status;
    const std::uint32_t statusResult = DecodeStatus(reply, status);
    FUZZ_CHECK(statusResult == (reply.size() < kStatusReplySize ? kReplyCheckFailed : 0));
    if (statusResult == 0) FUZZ_CHECK(status.Busy == reply[2]);

    const std::span<const std::uint8_t> cut = CutReply(reply, asked);
    FUZZ_CHECK(cut.size() == std::min<std::size_t>(asked, reply.size()));
    FUZZ_CHECK(std::equal(cut.begin(), cut.end(), reply.begin()));

    // The echo of data the reply begins with is confirmed; of anything else, refused.
    FUZZ_CHECK(CheckFlashWriteEcho(reply, reply.data(), std::min<std::size_t>(asked, reply.size())) == 0);
    if (asked > reply.size()) {
        const std::vector<std::uint8_t> longer(asked, 0);
        FUZZ_CHECK(CheckFlashWriteEcho(reply, longer.data(), longer.size()) == kReplyCheckFailed);
    }

    std::array<std::uint8_t, kMemChunkLimit> chunk;
    chunk.fill(0xEE);
    const std::size_t count = asked % (kMemChunkLimit + 1);
    const std::uint32_t chunkResult = DecodeMemReadChunk(reply, chunk.data(), count);
    FUZZ_CHECK(chunkResult == (reply.size() < count ? kReplyCheckFailed : 0));
    for (std::size_t i = 0; i < count; ++i) FUZZ_CHECK(chunk[i] == (i < reply.size() ? reply[i] : 0));
    FUZZ_CHECK(std::all_of(chunk.begin() + count, chunk.end(), [](std::uint8_t b) { return b == 0xEE; }));

    // The identity record (the reply's first bytes) kept in an image ending near it.
    if (reply.size() >= kSerialBlockSize) {
        std::vector<std::uint8_t> image(kSerialBlockAddress - kSerialBlockSize + asked % (3 * kSerialBlockSize), 0x11);
        const std::size_t length = image.size();
        const bool kept = KeepIdentityRecord(image, reply.data());
        FUZZ_CHECK(image.size() == length && kept == (length > kSerialBlockAddress));
        for (std::size_t i = kSerialBlockAddress - 1; i < length; ++i) {
            const bool inRecord = i >= kSerialBlockAddress && i < kSerialBlockAddress + kSerialBlockSize;
            FUZZ_CHECK(image[i] == (inRecord ? reply[i - kSerialBlockAddress] : 0x11));
        }
    }
    return 0;
}
