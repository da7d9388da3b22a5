#pragma once
// A large instrument memory of the bench (a 16 MiB configuration flash, the IRIG clock's FPGA
// configuration store): 4 KiB pages, 0xFF where nothing is held. A real instrument keeps these
// bytes on its own chips, so the bench keeps them out of the program's memory too: at most
// kResidentPages pages stay in memory, and the others go to a scratch file (removed when the
// memory is destroyed). Without a scratch file every page stays in memory.
#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <ostream>
#include <span>
#include <unordered_map>
#include <vector>

#include "sim/Recorder.h"

namespace rovenza::sim {

// Flash programming: ANDs `count` bytes of `data` into `memory` (a write can only clear bits).
void AndInto(std::uint8_t* memory, const std::uint8_t* data, std::size_t count);

class PagedMemory {
public:
    static constexpr std::uint32_t kPageSize = 4096;
    static constexpr std::size_t kResidentPages = 64;  // 256 KiB

    enum class Store { Copy, And };  // a write replaces bytes, or ANDs into them (flash)

    explicit PagedMemory(std::uint32_t size);
    ~PagedMemory();
    PagedMemory(const PagedMemory&) = delete;
    PagedMemory& operator=(const PagedMemory&) = delete;

    std::uint32_t size() const { return size_; }
    // `count` bytes from `address`; 0xFF past the end and where nothing is held.
    Bytes read(std::uint32_t address, std::size_t count) const;
    void read(std::uint32_t address, std::size_t count, std::uint8_t* out) const;
    // Stores `data` from `address`; bytes past the end are dropped.
    void write(std::uint32_t address, std::span<const std::uint8_t> data, Store store);
    // Sets the bytes from `begin` up to `end` to 0xFF and drops the pages that become blank.
    void erase(std::uint32_t begin, std::uint32_t end);

    // The length that holds every byte written (0xFF included) since an erase last covered it:
    // bytes at and above it are all 0xFF.
    std::uint32_t extent() const;
    // The memory up to extent().
    void writeTo(std::ostream& out) const;
    std::size_t pagesHeld() const { return used_.size(); }
    // Pages in memory at the moment (at most kResidentPages while the scratch file works).
    std::size_t pagesResident() const { return resident_.size(); }

private:
    struct Slot {
        std::uint32_t number = 0;
        bool dirty = false;
        std::array<std::uint8_t, kPageSize> bytes;
    };

    // Page `number` in memory (read back from the scratch file, or blank).
    Slot& page(std::uint32_t number) const;
    void spill(Slot& slot) const;
    void drop(std::uint32_t number);

    std::uint32_t size_;
    std::map<std::uint32_t, std::uint32_t> used_;  // held pages: the offset after their highest byte written
    mutable std::vector<std::unique_ptr<Slot>> slots_;
    mutable std::unordered_map<std::uint32_t, Slot*> resident_;
    mutable std::vector<bool> spilled_;  // by page number: the scratch file holds its bytes
    mutable std::size_t hand_ = 0;       // the next slot to give up
    mutable std::FILE* scratch_ = nullptr;
    mutable bool noScratch_ = false;
    // The page written or read last, its slot and its entry in used_, while it stays resident
    // and held: an image is written and read back in order, a few bytes at a time, and finding
    // a page in the maps each time costs more than the bytes.
    struct Recent {
        std::uint32_t number = 0;
        Slot* slot = nullptr;  // nullptr: none
        std::uint32_t* used = nullptr;
    };
    mutable Recent recent_;
    // The held page `number`, resident, as recent_; none when it is not held.
    const Recent* held(std::uint32_t number) const;
};

}  // namespace rovenza::sim
