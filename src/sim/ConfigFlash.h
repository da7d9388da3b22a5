#pragma once
// The second-generation instrument's configuration flash: memory that behaves like flash (a
// write can only clear bits; only an erase sets them back to 0xFF), kept in 4 KiB pages so
// that 16 MiB cost memory only where they hold something other than the erased state, and
// kept mostly out of the program's memory (see PagedMemory).
#include <cstdint>
#include <ostream>

#include "sim/PagedMemory.h"
#include "sim/Recorder.h"

namespace rovenza::sim {

class ConfigFlash {
public:
    static constexpr std::uint32_t kPageSize = PagedMemory::kPageSize;

    explicit ConfigFlash(std::uint32_t size) : memory_(size) {}

    std::uint32_t size() const { return memory_.size(); }
    // `count` bytes from `address`; 0xFF past the end.
    Bytes read(std::uint32_t address, std::size_t count) const { return memory_.read(address, count); }
    void read(std::uint32_t address, std::size_t count, std::uint8_t* out) const { memory_.read(address, count, out); }
    // ANDs `data` into the flash from `address`; bytes past the end are dropped.
    void program(std::uint32_t address, std::span<const std::uint8_t> data) {
        memory_.write(address, data, PagedMemory::Store::And);
    }
    // Sets the bytes from `begin` up to `end` to 0xFF and frees the pages that become blank.
    void erase(std::uint32_t begin, std::uint32_t end) { memory_.erase(begin, end); }

    // The length that holds every byte programmed (0xFF included) since an erase last covered
    // it: bytes at and above it are all 0xFF.
    std::uint32_t extent() const { return memory_.extent(); }
    // The flash up to extent(), written page by page.
    void writeTo(std::ostream& out) const { memory_.writeTo(out); }
    std::size_t pagesHeld() const { return memory_.pagesHeld(); }
    std::size_t pagesResident() const { return memory_.pagesResident(); }

private:
    PagedMemory memory_;
};

}  // namespace rovenza::sim
