#pragma once
// A photo's metadata carried from the file it was read from into the files written from it:
// the EXIF block and the ICC colour profile, as bytes. Read from JPEG (APP1 "Exif", APP2
// "ICC_PROFILE" in one or more pieces), PNG (eXIf, iCCP), WebP (EXIF, ICCP) and TIFF (the ICC
// profile only: a TIFF file's EXIF is a directory of the file, not a block); written by the
// JPEG, PNG and WebP writers, and the profile by the TIFF writer. TIFF takes no EXIF block:
// its offsets would have to be rewritten into the file's own.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/formats/ImageFormats.h"

namespace ozm {

// Larger blocks are not kept (a camera's EXIF block is some tens of KiB, a profile rarely
// above 1 MiB).
inline constexpr std::size_t kMaxExifBytes = std::size_t{4} << 20;
inline constexpr std::size_t kMaxIccBytes = std::size_t{4} << 20;
// The most EXIF a JPEG file's one APP1 segment can hold after its "Exif\0\0".
inline constexpr std::size_t kMaxJpegExifBytes = 65533 - 6;

struct PhotoMetadata {
    // A TIFF structure ("II*\0" or "MM\0*" first), without the "Exif\0\0" of a JPEG segment.
    std::vector<std::uint8_t> exif;
    std::vector<std::uint8_t> icc;  // the whole profile
    bool Empty() const { return exif.empty() && icc.empty(); }
};

// The blocks of `file`, a whole file of the format `code` (JPEG, PNG, WebP, TIFF; the others
// have none). A block that is
// damaged, incomplete or too large is left out and `notes` (when given) says so; the walk
// never reads outside `file` and allocates no more than the limits above. Without `withExif`
// only the profile is looked for.
PhotoMetadata ReadPhotoMetadata(std::span<const std::uint8_t> file, ImageFormatCode code,
                                std::vector<std::string>* notes = nullptr, bool withExif = true);
// The same for a TIFF file on disk, of which only the directory and the profile are read.
PhotoMetadata ReadTiffMetadata(const std::filesystem::path& path,
                               std::vector<std::string>* notes = nullptr);

// What a written picture changes in its EXIF block.
struct ExifChanges {
    std::optional<int> orientation;  // the Orientation to write; nullopt keeps it
    int width = 0;                   // the written picture's size, for PixelX/YDimension
    int height = 0;
    bool dropThumbnail = false;  // unlinks the thumbnail's directory (IFD1)
};

// Applies `changes` to `exif` in place: the Orientation of IFD0 and the PixelXDimension and
// PixelYDimension of the Exif directory are rewritten (an entry of a type that cannot take the
// value is removed, as is an orientation of another type), every other byte stays. False,
// with `exif` unchanged, when the first directory cannot be walked inside the block: such a
// block is not worth keeping.
bool ChangeExif(std::vector<std::uint8_t>& exif, const ExifChanges& changes);

// True when libexif finds at least one entry in the block.
bool ExifReadable(std::span<const std::uint8_t> exif);

// The data of a PNG iCCP chunk holding `icc`: a name, its NUL, method 0 and the zlib stream.
std::vector<std::uint8_t> PngIccpData(std::span<const std::uint8_t> icc);

}  // namespace ozm
