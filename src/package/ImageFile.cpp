#include "ImageFile.h"

#include <algorithm>
#include <system_error>

#include "UNZDLL.h"

namespace rovenza {

namespace {

// Reads up to `count` bytes; the number read.
std::size_t ReadSome(std::ifstream& in, std::uint8_t* out, std::size_t count) {
    in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
    return static_cast<std::size_t>(in.gcount());
}

}  // namespace

std::optional<std::string> ImageFile::open(const std::filesystem::path& path, std::uint64_t limit,
                                           const PieceCheck& check) {
    path_.clear();
    size_ = 0;
    crcs_.clear();
    const std::string name = path.filename().string();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return name + ": missing from the package";
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) return name + ": cannot be read";
    if (size == 0) return name + ": empty";
    if (size > limit)
        return name + ": " + std::to_string(size) + " bytes, more than the " + std::to_string(limit) +
               " its memory holds";
    std::ifstream in(path, std::ios::binary);
    if (!in) return name + ": cannot be read";
    std::vector<std::uint32_t> crcs;
    crcs.reserve(static_cast<std::size_t>((size + kPieceSize - 1) / kPieceSize));
    std::vector<std::uint8_t> piece(static_cast<std::size_t>(std::min<std::uint64_t>(size, kPieceSize)));
    for (std::uint64_t offset = 0; offset < size; offset += kPieceSize) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kPieceSize, size - offset));
        // A file that shrank while it was read is not the file that was measured.
        if (ReadSome(in, piece.data(), want) != want) return name + ": changed while it was read";
        if (check)
            if (auto refusal = check(offset, piece.data(), want)) return refusal;
        crcs.push_back(Crc32(0, piece.data(), want));
    }
    // Nor is one that grew.
    if (in.peek() != std::ifstream::traits_type::eof()) return name + ": changed while it was read";
    path_ = path;
    size_ = size;
    crcs_ = std::move(crcs);
    return std::nullopt;
}

void ImageFile::Reader::load(std::size_t piece) {
    const std::string name = image_.path_.filename().string();
    if (!in_.is_open()) {
        in_.open(image_.path_, std::ios::binary);
        if (!in_) throw EImageChanged(name + " can no longer be read");
    }
    const std::uint64_t offset = std::uint64_t{piece} * kPieceSize;
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kPieceSize, image_.size_ - offset));
    piece_.resize(want);
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    if (ReadSome(in_, piece_.data(), want) != want || Crc32(0, piece_.data(), want) != image_.crcs_[piece]) {
        loaded_ = static_cast<std::size_t>(-1);
        throw EImageChanged(name + " changed after it was checked (at byte " + std::to_string(offset) + ")");
    }
    loaded_ = piece;
}

void ImageFile::Reader::read(std::uint64_t offset, std::size_t count, std::uint8_t* out) {
    if (offset > image_.size_ || count > image_.size_ - offset)
        throw std::out_of_range("image read past the end of " + image_.path_.filename().string());
    while (count > 0) {
        const auto piece = static_cast<std::size_t>(offset / kPieceSize);
        if (piece != loaded_) load(piece);
        const auto at = static_cast<std::size_t>(offset % kPieceSize);
        const std::size_t n = std::min(count, piece_.size() - at);
        std::copy_n(piece_.begin() + static_cast<std::ptrdiff_t>(at), n, out);
        out += n;
        offset += n;
        count -= n;
    }
}

}  // namespace rovenza
