#pragma once
// An image file of the work folder, read in bounded pieces instead of held whole: a 16 MiB
// configuration image costs 64 KiB of memory while it is written.
//
// open() reads the whole file once, a piece at a time, and keeps each piece's CRC-32. A Reader
// then reads the file again, a piece at a time, and refuses (EImageChanged) a piece whose bytes
// are not those open() saw, before any byte of it is handed out: what reaches an instrument is
// always what was checked, even if something rewrites the file in the meantime. An ImageFile
// does not change after open(), so several threads may read it, each through its own Reader.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace rovenza {

// The file no longer holds what was checked (or can no longer be read).
class EImageChanged : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ImageFile {
public:
    static constexpr std::size_t kPieceSize = 64 * 1024;

    // Sees each piece in turn (`offset` in the file); returns what is wrong with the file, or
    // nothing to go on. Used to check a text image while it is read.
    using PieceCheck = std::function<std::optional<std::string>(std::uint64_t offset, const std::uint8_t* bytes,
                                                                std::size_t size)>;

    // Reads the whole file. What is wrong with it (named by its file name), or nothing when it
    // is a regular file that can be read, holds at least one byte, at most `limit`, and passes
    // `check`. After a refusal the ImageFile is empty.
    std::optional<std::string> open(const std::filesystem::path& path, std::uint64_t limit,
                                    const PieceCheck& check = {});

    const std::filesystem::path& path() const { return path_; }
    std::uint64_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    class Reader {
    public:
        explicit Reader(const ImageFile& image) : image_(image) {}
        // Copies `count` bytes from `offset` (within the file) into `out`. Throws EImageChanged.
        void read(std::uint64_t offset, std::size_t count, std::uint8_t* out);

    private:
        void load(std::size_t piece);

        const ImageFile& image_;
        std::ifstream in_;
        std::vector<std::uint8_t> piece_;
        std::size_t loaded_ = static_cast<std::size_t>(-1);
    };

private:
    std::filesystem::path path_;
    std::uint64_t size_ = 0;
    std::vector<std::uint32_t> crcs_;  // of each piece, in file order
};

}  // namespace rovenza
