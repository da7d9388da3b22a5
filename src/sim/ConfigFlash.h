#pragma once
// The second-generation instrument's configuration flash: memory that behaves like flash (a
// write can only clear bits; only an erase sets them back to 0xFF), kept in 4 KiB pages so
// that 16 MiB cost memory only where they hold something other than the erased state.
#include <array>
#include <cstdint>
#include <map>
#include <ostream>

#include "sim/Recorder.h"

namespace rovenza::sim {

class ConfigFlash {
public:
    static constexpr std::uint32_t kPageSize = 4096;

    explicit ConfigFlash(std::uint32_t size) : size_(size) {}

    std::uint32_t size() const { return size_; }
    // `count` bytes from `address`; 0xFF past the end.
    Bytes read(std::uint32_t address, std::size_t count) const;
    // ANDs `data` into the flash from `address`; bytes past the end are dropped.
    void program(std::uint32_t address, const Bytes& data);
    // Sets the bytes from `begin` up to `end` to 0xFF and frees the pages that become blank.
    void erase(std::uint32_t begin, std::uint32_t end);

    // The length that holds every byte programmed (0xFF included) since an erase last covered
    // it: bytes at and above it are all 0xFF.
    std::uint32_t extent() const;
    // The flash up to extent(), written page by page.
    void writeTo(std::ostream& out) const;
    std::size_t pagesHeld() const { return pages_.size(); }

private:
    struct Page {
        std::array<std::uint8_t, kPageSize> bytes;
        std::uint32_t used = 0;  // offset after the highest byte programmed in the page
    };

    std::uint32_t size_;
    std::map<std::uint32_t, Page> pages_;  // by page number
};

}  // namespace rovenza::sim
