#pragma once
// The names of the TIFF fields the reader and the writer use: tags, field types, the values
// of the enumerated tags, and the fixed sizes of the file's header and directory entries.

#include <cstddef>
#include <cstdint>

namespace ozm {

namespace TiffTag {
inline constexpr std::uint16_t NewSubfileType = 254;
inline constexpr std::uint16_t ImageWidth = 256;
inline constexpr std::uint16_t ImageLength = 257;
inline constexpr std::uint16_t BitsPerSample = 258;
inline constexpr std::uint16_t Compression = 259;
inline constexpr std::uint16_t PhotometricInterpretation = 262;
inline constexpr std::uint16_t StripOffsets = 273;
inline constexpr std::uint16_t SamplesPerPixel = 277;
inline constexpr std::uint16_t RowsPerStrip = 278;
inline constexpr std::uint16_t StripByteCounts = 279;
inline constexpr std::uint16_t XResolution = 282;
inline constexpr std::uint16_t YResolution = 283;
inline constexpr std::uint16_t PlanarConfiguration = 284;
inline constexpr std::uint16_t ResolutionUnit = 296;
inline constexpr std::uint16_t Software = 305;
inline constexpr std::uint16_t ColorMap = 320;
inline constexpr std::uint16_t IccProfile = 34675;  // UNDEFINED bytes: the whole profile
}  // namespace TiffTag

namespace TiffType {
inline constexpr std::uint16_t Byte = 1;
inline constexpr std::uint16_t Ascii = 2;  // ends with a NUL, which the count includes
inline constexpr std::uint16_t Short = 3;
inline constexpr std::uint16_t Long = 4;
inline constexpr std::uint16_t Rational = 5;  // two LONGs: numerator, denominator
inline constexpr std::uint16_t Undefined = 7;
}  // namespace TiffType

// Compression.
inline constexpr std::uint32_t kTiffUncompressed = 1;

// PhotometricInterpretation.
namespace TiffPhotometric {
inline constexpr std::uint32_t WhiteIsZero = 0;
inline constexpr std::uint32_t BlackIsZero = 1;
inline constexpr std::uint32_t Rgb = 2;
inline constexpr std::uint32_t Palette = 3;
}  // namespace TiffPhotometric

// PlanarConfiguration: the samples of a pixel stored together.
inline constexpr std::uint32_t kTiffChunky = 1;
// ResolutionUnit.
inline constexpr std::uint32_t kTiffInch = 2;

// The header: byte order ("II" little-endian, "MM" big-endian), the number 42, the offset of
// the first directory.
inline constexpr std::uint16_t kTiffMagic = 42;
inline constexpr std::size_t kTiffHeaderBytes = 8;
// A directory: a 16-bit entry count, the entries, a 32-bit offset of the next directory.
inline constexpr std::size_t kTiffEntryBytes = 12;
// The part of an entry that holds its value, or the offset of its values when they do not fit.
inline constexpr std::size_t kTiffValueFieldBytes = 4;

}  // namespace ozm
