#include "ConfigFlash.h"

#include <algorithm>

namespace rovenza::sim {

Bytes ConfigFlash::read(std::uint32_t address, std::size_t count) const {
    Bytes out(count, 0xFF);
    for (std::size_t done = 0; done < count;) {
        const std::uint64_t a = std::uint64_t{address} + done;
        if (a >= size_) break;
        const std::uint32_t offset = static_cast<std::uint32_t>(a % kPageSize);
        const std::size_t chunk = std::min<std::size_t>(count - done, kPageSize - offset);
        if (const auto it = pages_.find(static_cast<std::uint32_t>(a / kPageSize)); it != pages_.end())
            std::copy_n(it->second.bytes.begin() + offset, chunk, out.begin() + static_cast<std::ptrdiff_t>(done));
        done += chunk;
    }
    return out;
}

void ConfigFlash::program(std::uint32_t address, const Bytes& data) {
    for (std::size_t done = 0; done < data.size();) {
        const std::uint64_t a = std::uint64_t{address} + done;
        if (a >= size_) return;
        const std::uint32_t offset = static_cast<std::uint32_t>(a % kPageSize);
        const std::size_t chunk =
            std::min<std::size_t>({data.size() - done, kPageSize - offset, static_cast<std::size_t>(size_ - a)});
        auto [it, added] = pages_.try_emplace(static_cast<std::uint32_t>(a / kPageSize));
        Page& page = it->second;
        if (added) page.bytes.fill(0xFF);
        for (std::size_t i = 0; i < chunk; ++i) page.bytes[offset + i] &= data[done + i];
        page.used = std::max(page.used, offset + static_cast<std::uint32_t>(chunk));
        done += chunk;
    }
}

void ConfigFlash::erase(std::uint32_t begin, std::uint32_t end) {
    end = std::min(end, size_);
    for (auto it = pages_.lower_bound(begin / kPageSize); it != pages_.end() && it->first * kPageSize < end;) {
        const std::uint32_t base = it->first * kPageSize;
        const std::uint32_t from = std::max(begin, base) - base;
        const std::uint32_t to = std::min(end - base, kPageSize);
        Page& page = it->second;
        std::fill(page.bytes.begin() + from, page.bytes.begin() + to, std::uint8_t{0xFF});
        if (to >= page.used) {
            // Nothing programmed is left at or above `from`.
            const auto last = std::find_if(std::make_reverse_iterator(page.bytes.begin() + from), page.bytes.rend(),
                                           [](std::uint8_t b) { return b != 0xFF; });
            page.used = static_cast<std::uint32_t>(page.bytes.rend() - last);
        }
        it = page.used == 0 ? pages_.erase(it) : std::next(it);
    }
}

std::uint32_t ConfigFlash::extent() const {
    if (pages_.empty()) return 0;
    const auto& [number, page] = *pages_.rbegin();
    return number * kPageSize + page.used;
}

void ConfigFlash::writeTo(std::ostream& out) const {
    static const std::array<std::uint8_t, kPageSize> kBlank = [] {
        std::array<std::uint8_t, kPageSize> blank;
        blank.fill(0xFF);
        return blank;
    }();
    const std::uint32_t length = extent();
    for (std::uint32_t base = 0; base < length; base += kPageSize) {
        const auto it = pages_.find(base / kPageSize);
        const auto& bytes = it == pages_.end() ? kBlank : it->second.bytes;
        out.write(reinterpret_cast<const char*>(bytes.data()), std::min(kPageSize, length - base));
    }
}

}  // namespace rovenza::sim
