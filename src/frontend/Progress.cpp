#include "Progress.h"

#include <cfloat>

namespace rovenza {

namespace {

// A positive extended value: significand × 2^exponent, the significand normalised so that
// its top bit is set.
struct Extended {
    std::uint64_t significand;
    int exponent;
};

constexpr std::uint64_t kTopBit = std::uint64_t{1} << 63;

// Rounds significand `m` whose next bit is `guard` and whose bits below are `sticky`.
Extended RoundNearestEven(std::uint64_t m, int exponent, bool guard, bool sticky) {
    if (guard && (sticky || (m & 1))) {
        ++m;
        if (m == 0) {  // carried out of the top bit
            m = kTopBit;
            ++exponent;
        }
    }
    return {m, exponent};
}

// a / d for a >= 1, d >= 1, rounded to 64 significant bits.
Extended Divide(std::uint64_t a, std::uint64_t d) {
    std::uint64_t m = a / d;
    std::uint64_t r = a % d;
    int exponent = 0;
    auto nextBit = [&] {
        // r < d <= 2^63, so the doubling cannot overflow.
        r <<= 1;
        const bool bit = r >= d;
        if (bit) r -= d;
        return bit;
    };
    while (m < kTopBit) {
        m = (m << 1) | (nextBit() ? 1u : 0u);
        --exponent;
    }
    const bool guard = nextBit();
    return RoundNearestEven(m, exponent, guard, r != 0);
}

// x × 100, rounded to 64 significant bits.
Extended TimesHundred(Extended x) {
    // The 128-bit product, from 32-bit halves.
    const std::uint64_t loProduct = (x.significand & 0xFFFFFFFFu) * 100;
    const std::uint64_t hiProduct = (x.significand >> 32) * 100 + (loProduct >> 32);
    const std::uint64_t high = hiProduct >> 32;
    const std::uint64_t low = (hiProduct << 32) | (loProduct & 0xFFFFFFFFu);
    if (high == 0) return {low, x.exponent};
    int shift = 0;  // how far the product must move right to fit 64 bits (at most 7)
    while ((high >> shift) != 0) ++shift;
    const std::uint64_t kept = (low >> shift) | (high << (64 - shift));
    const bool guard = (low >> (shift - 1)) & 1;
    const bool sticky = (low & ((std::uint64_t{1} << (shift - 1)) - 1)) != 0;
    return RoundNearestEven(kept, x.exponent + shift, guard, sticky);
}

// min(value, 99) truncated toward zero, for a positive value.
int CapAndTruncate(Extended value) {
    if (value.exponent >= 0) return 99;
    const int fractionBits = -value.exponent;
    if (fractionBits >= 64) return 0;
    const std::uint64_t whole = value.significand >> fractionBits;
    const bool hasFraction = (value.significand & ((std::uint64_t{1} << fractionBits) - 1)) != 0;
    if (whole > 99 || (whole == 99 && hasFraction)) return 99;
    return static_cast<int>(whole);
}

}  // namespace

int ProgressPositionEmulated(std::int64_t total, std::int64_t done) {
    const std::uint64_t divisor = total >= 1 ? static_cast<std::uint64_t>(total) : 1;
    if (done == 0) return 0;
    const bool negative = done < 0;
    const std::uint64_t magnitude =
        negative ? static_cast<std::uint64_t>(-(done + 1)) + 1 : static_cast<std::uint64_t>(done);
    const Extended percent = TimesHundred(Divide(magnitude, divisor));
    if (!negative) return CapAndTruncate(percent);
    // Negative shares are never capped; truncation toward zero mirrors the positive case.
    if (percent.exponent >= 0) return -2147483647 - 1;  // far below any bar position
    const int fractionBits = -percent.exponent;
    const std::uint64_t whole = fractionBits >= 64 ? 0 : percent.significand >> fractionBits;
    return whole > 2147483647u ? -2147483647 - 1 : -static_cast<int>(whole);
}

int ProgressPosition(std::int64_t total, std::int64_t done) {
#if LDBL_MANT_DIG == 64
    const long double divisor = total >= 1 ? static_cast<long double>(total) : 1.0L;
    long double percent = static_cast<long double>(done) / divisor * 100.0L;
    if (percent > 99.0L) percent = 99.0L;
    if (percent < -2147483648.0L) return -2147483647 - 1;
    return static_cast<int>(percent);  // truncates toward zero
#else
    return ProgressPositionEmulated(total, done);
#endif
}

std::string ProgressCaption(const std::string& stage, int position) {
    if (stage.empty()) return {};
    return stage + "... (" + std::to_string(position) + "%)";
}

std::optional<std::string> ProgressLines::next(const std::string& stage, int position) {
    const int multiple = position >= 0 ? position / step_ : -1;
    if (stage.empty() || (stage == stage_ && multiple <= shown_)) return std::nullopt;
    stage_ = stage;
    shown_ = multiple;
    return ProgressCaption(stage, position);
}

}  // namespace rovenza
