// The bench's paged memory against a plain array: what it reads back whatever the order of the
// writes, erases and reads, with most pages out in the scratch file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "sim/PagedMemory.h"

namespace rovenza {
namespace {

using sim::Bytes;
using sim::PagedMemory;

constexpr std::uint32_t kPage = PagedMemory::kPageSize;
constexpr std::uint32_t kSize = 4 * PagedMemory::kResidentPages * kPage;  // four times the pages kept in memory

// The memory and the array it must match, changed together.
struct Pair {
    PagedMemory memory{kSize};
    Bytes model = Bytes(kSize, 0xFF);
    std::uint32_t seed = 1;

    Bytes Pattern(std::size_t count) {
        Bytes bytes(count);
        for (auto& b : bytes) b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
        return bytes;
    }
    void Write(std::uint32_t address, std::size_t count, PagedMemory::Store store) {
        const Bytes data = Pattern(count);
        memory.write(address, data, store);
        for (std::size_t i = 0; i < count && address + i < kSize; ++i)
            model[address + i] = store == PagedMemory::Store::And ? model[address + i] & data[i] : data[i];
    }
    void Erase(std::uint32_t begin, std::uint32_t end) {
        memory.erase(begin, end);
        std::fill(model.begin() + begin, model.begin() + std::min(end, kSize), std::uint8_t{0xFF});
    }
    // Reads `count` bytes from `address` both ways; false when they differ.
    bool Same(std::uint32_t address, std::size_t count) const {
        Bytes expected(count, 0xFF);
        for (std::size_t i = 0; i < count && address + i < kSize; ++i) expected[i] = model[address + i];
        return memory.read(address, count) == expected;
    }
};

TEST(PagedMemory, ReadsBackWhatAPlainArrayHolds) {
    using Store = PagedMemory::Store;
    struct Row {
        const char* what;
        std::function<void(Pair&)> run;  // reads back as it goes (EXPECT_TRUE)
    };
    const std::vector<Row> rows = {
        {"an image programmed and read back in order, 32 bytes at a time",
         [](Pair& p) {
             for (std::uint32_t a = 0; a < kSize; a += 32) p.Write(a, 32, Store::And);
             for (std::uint32_t a = 0; a < kSize; a += 32) ASSERT_TRUE(p.Same(a, 32)) << a;
         }},
        {"the page used last erased, then written again",
         [](Pair& p) {
             for (std::uint32_t a = 0; a < 3 * kPage; a += 64) p.Write(a, 64, Store::Copy);
             EXPECT_TRUE(p.Same(kPage + 100, 32));
             p.Erase(kPage, 2 * kPage);  // it is no longer held
             p.Write(kPage + 96, 40, Store::And);
             EXPECT_TRUE(p.Same(0, 32));
             EXPECT_TRUE(p.Same(kPage, kPage));
             p.Erase(0, kPage / 2);  // part of a page: it stays held
             p.Write(kPage / 2 - 8, 16, Store::Copy);
         }},
        {"the page used last given up while other pages are erased",
         [](Pair& p) {
             for (std::uint32_t a = 0; a < kSize; a += kPage) p.Write(a, kPage, Store::Copy);
             EXPECT_TRUE(p.Same(5 * kPage, 16));
             p.Erase(8 * kPage, kSize);  // every other page passes through memory
             EXPECT_TRUE(p.Same(5 * kPage, kPage));
             EXPECT_EQ(p.memory.pagesHeld(), 8u);
         }},
        {"pages read back from the scratch file in the opposite order",
         [](Pair& p) {
             for (std::uint32_t page = 0; page < kSize / kPage; page += 3) p.Write(page * kPage + 7, 50, Store::Copy);
             for (std::uint32_t page = kSize / kPage; page-- > 0;) ASSERT_TRUE(p.Same(page * kPage, kPage)) << page;
             p.Write(kSize - 10, 20, Store::Copy);  // past the end: dropped
         }},
        {"writes, erases and reads in a pseudo-random order",
         [](Pair& p) {
             std::uint32_t r = 7;
             const auto next = [&r](std::uint32_t bound) { return (r = r * 22695477u + 1u) % bound; };
             for (int i = 0; i < 20000; ++i) {
                 const std::uint32_t address = next(kSize);
                 const std::uint32_t count = 1 + next(2 * kPage);
                 switch (next(8)) {
                     case 0: p.Erase(address, address + count); break;
                     case 1:
                     case 2: p.Write(address, count, Store::Copy); break;
                     case 3:
                     case 4: p.Write(address, count, Store::And); break;
                     default: ASSERT_TRUE(p.Same(address, count)) << i;
                 }
             }
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Pair p;
        row.run(p);
        EXPECT_TRUE(p.Same(0, kSize));
        EXPECT_LE(p.memory.pagesResident(), PagedMemory::kResidentPages);
    }
}

}  // namespace
}  // namespace rovenza
