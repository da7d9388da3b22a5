#include "PagedMemory.h"

#include <algorithm>

namespace rovenza::sim {

namespace {

const std::array<std::uint8_t, PagedMemory::kPageSize>& BlankPage() {
    static const std::array<std::uint8_t, PagedMemory::kPageSize> blank = [] {
        std::array<std::uint8_t, PagedMemory::kPageSize> page;
        page.fill(0xFF);
        return page;
    }();
    return blank;
}

constexpr std::uint32_t kNoPage = 0xFFFFFFFFu;

}  // namespace

PagedMemory::PagedMemory(std::uint32_t size)
    : size_(size), spilled_((std::uint64_t{size} + kPageSize - 1) / kPageSize, false) {}

PagedMemory::~PagedMemory() {
    if (scratch_) std::fclose(scratch_);
}

void PagedMemory::spill(Slot& slot) const {
    if (!scratch_ && !noScratch_) {
        scratch_ = std::tmpfile();  // removed by the system when closed
        noScratch_ = scratch_ == nullptr;
    }
    if (noScratch_) return;
    const long offset = static_cast<long>(slot.number) * static_cast<long>(kPageSize);
    if (std::fseek(scratch_, offset, SEEK_SET) != 0 || std::fwrite(slot.bytes.data(), 1, kPageSize, scratch_) != kPageSize) {
        // Keep this page and every later one in memory instead.
        noScratch_ = true;
        return;
    }
    spilled_[slot.number] = true;
    slot.dirty = false;
}

PagedMemory::Slot& PagedMemory::page(std::uint32_t number) const {
    if (const auto it = resident_.find(number); it != resident_.end()) return *it->second;
    Slot* slot = nullptr;
    if (slots_.size() >= kResidentPages && !noScratch_) {
        // Give up the slot under the hand; a page whose bytes cannot be spilled stays.
        Slot& old = *slots_[hand_];
        if (old.number != kNoPage && old.dirty) spill(old);
        if (old.number == kNoPage || !old.dirty) {
            if (old.number != kNoPage) resident_.erase(old.number);
            slot = &old;
            hand_ = (hand_ + 1) % slots_.size();
        }
    }
    if (!slot) slot = slots_.emplace_back(std::make_unique<Slot>()).get();
    slot->number = number;
    slot->dirty = false;
    bool loaded = false;
    if (spilled_[number] && scratch_) {
        const long offset = static_cast<long>(number) * static_cast<long>(kPageSize);
        loaded = std::fseek(scratch_, offset, SEEK_SET) == 0 &&
                 std::fread(slot->bytes.data(), 1, kPageSize, scratch_) == kPageSize;
    }
    if (!loaded) slot->bytes = BlankPage();
    resident_[number] = slot;
    return *slot;
}

void PagedMemory::drop(std::uint32_t number) {
    if (const auto it = resident_.find(number); it != resident_.end()) {
        it->second->number = kNoPage;
        it->second->dirty = false;
        resident_.erase(it);
    }
    spilled_[number] = false;
    used_.erase(number);
}

Bytes PagedMemory::read(std::uint32_t address, std::size_t count) const {
    Bytes out(count);
    read(address, count, out.data());
    return out;
}

void PagedMemory::read(std::uint32_t address, std::size_t count, std::uint8_t* out) const {
    std::fill_n(out, count, std::uint8_t{0xFF});
    for (std::size_t done = 0; done < count;) {
        const std::uint64_t a = std::uint64_t{address} + done;
        if (a >= size_) break;
        const auto number = static_cast<std::uint32_t>(a / kPageSize);
        const auto offset = static_cast<std::uint32_t>(a % kPageSize);
        const std::size_t chunk = std::min<std::size_t>(count - done, kPageSize - offset);
        if (used_.count(number)) std::copy_n(page(number).bytes.begin() + offset, chunk, out + done);
        done += chunk;
    }
}

void PagedMemory::write(std::uint32_t address, std::span<const std::uint8_t> data, Store store) {
    for (std::size_t done = 0; done < data.size();) {
        const std::uint64_t a = std::uint64_t{address} + done;
        if (a >= size_) return;
        const auto number = static_cast<std::uint32_t>(a / kPageSize);
        const auto offset = static_cast<std::uint32_t>(a % kPageSize);
        const std::size_t chunk =
            std::min<std::size_t>({data.size() - done, kPageSize - offset, static_cast<std::size_t>(size_ - a)});
        Slot& slot = page(number);
        for (std::size_t i = 0; i < chunk; ++i) {
            std::uint8_t& byte = slot.bytes[offset + i];
            byte = store == Store::And ? static_cast<std::uint8_t>(byte & data[done + i]) : data[done + i];
        }
        slot.dirty = true;
        std::uint32_t& used = used_[number];
        used = std::max(used, offset + static_cast<std::uint32_t>(chunk));
        done += chunk;
    }
}

void PagedMemory::erase(std::uint32_t begin, std::uint32_t end) {
    end = std::min(end, size_);
    for (auto it = used_.lower_bound(begin / kPageSize); it != used_.end() && it->first * kPageSize < end;) {
        const std::uint32_t number = it->first;
        const std::uint32_t base = number * kPageSize;
        const std::uint32_t from = std::max(begin, base) - base;
        const std::uint32_t to = std::min(end - base, kPageSize);
        Slot& slot = page(number);
        std::fill(slot.bytes.begin() + from, slot.bytes.begin() + to, std::uint8_t{0xFF});
        slot.dirty = true;
        if (to >= it->second) {
            // Nothing written is left at or above `from`.
            const auto last = std::find_if(std::make_reverse_iterator(slot.bytes.begin() + from), slot.bytes.rend(),
                                           [](std::uint8_t b) { return b != 0xFF; });
            it->second = static_cast<std::uint32_t>(slot.bytes.rend() - last);
        }
        ++it;
        if (used_[number] == 0) drop(number);
    }
}

std::uint32_t PagedMemory::extent() const {
    if (used_.empty()) return 0;
    const auto& [number, used] = *used_.rbegin();
    return number * kPageSize + used;
}

void PagedMemory::writeTo(std::ostream& out) const {
    const std::uint32_t length = extent();
    for (std::uint32_t base = 0; base < length; base += kPageSize) {
        const std::uint32_t number = base / kPageSize;
        const auto& bytes = used_.count(number) ? page(number).bytes : BlankPage();
        out.write(reinterpret_cast<const char*>(bytes.data()), std::min(kPageSize, length - base));
    }
}

}  // namespace rovenza::sim
