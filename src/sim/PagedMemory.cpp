#include "PagedMemory.h"

#include <algorithm>
#include <cstring>

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

void AndInto(std::uint8_t* memory, const std::uint8_t* data, std::size_t count) {
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {  // a word at a time
        std::uint64_t word, mask;
        std::memcpy(&word, memory + i, 8);
        std::memcpy(&mask, data + i, 8);
        word &= mask;
        std::memcpy(memory + i, &word, 8);
    }
    for (; i < count; ++i) memory[i] &= data[i];
}

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
            if (recent_.slot == &old) recent_ = {};
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

const PagedMemory::Recent* PagedMemory::held(std::uint32_t number) const {
    if (recent_.slot && recent_.number == number) return &recent_;
    const auto it = used_.find(number);
    if (it == used_.end()) return nullptr;
    // page() may give up the slot recent_ names: it is set afterwards.
    Slot& slot = page(number);
    recent_ = {number, &slot, const_cast<std::uint32_t*>(&it->second)};
    return &recent_;
}

void PagedMemory::drop(std::uint32_t number) {
    if (recent_.number == number) recent_ = {};
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
        if (const Recent* held = this->held(number)) std::copy_n(held->slot->bytes.begin() + offset, chunk, out + done);
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
        if (!held(number)) used_.emplace(number, 0);  // a page written for the first time
        const Recent& page = *held(number);
        if (store == Store::And)
            AndInto(page.slot->bytes.data() + offset, data.data() + done, chunk);
        else
            std::copy_n(data.data() + done, chunk, page.slot->bytes.data() + offset);
        page.slot->dirty = true;
        *page.used = std::max(*page.used, offset + static_cast<std::uint32_t>(chunk));
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
