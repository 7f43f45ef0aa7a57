#include "core/formats/tiff/ReadTiff.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/bitmap/RgbSwap.h"
#include "core/formats/tiff/ReadTiffTags.h"
#include "core/formats/tiff/TiffTags.h"

namespace ozm {

namespace {

// The user sees these texts as they stand.
constexpr const char* kNoPhotometric = "Error reading tag Photometric interpretation";
constexpr const char* kBadPhotometric = "Error evaluating Photometric interpretation: ";
constexpr const char* kNoWidth = "Error reading tag Image Width";
constexpr const char* kNoHeight = "Error reading tag Image Height";
constexpr const char* kNoCompression = "Error reading tag Compression";
constexpr const char* kCompressedBilevel = "Cant read compressed bilevel image";
constexpr const char* kCompressedGrey = "Cant read compressed Gray Scale Image";
constexpr const char* kCompressedPalette =
    "Cant read compressed ColorPaletImage\n\n"
    "feel free to implement this type of image\n"
    "or send such images to tiff-samples@ozm-imgconv.example";
constexpr const char* kCompressedRgb = "Cant read compressed RGB Full Color Image";
constexpr const char* kNoBitsPerSample = "Error reading tag Bits Per Sample";
constexpr const char* kGreyBitsPerSample = "Error: Bits Per Sample not 4 or 8";
constexpr const char* kRgbBitsPerSample = "Error: Bits Per Sample (RGB) not 8";
constexpr const char* kPaletteBitsPerSample = "Error: Bits Per Sample (Palette) not 1, 4 or 8";
constexpr const char* kSamplesPerPixel = "Error: Samples Per Pixel not 1";
constexpr const char* kRgbSamplesPerPixel = "Error: Samples Per Pixel (RGB) not 3";
constexpr const char* kPlanar = "Error: Planar Configuration not 1";
constexpr const char* kNoColorMap = "Error reading tag Color Table Offset";
constexpr const char* kDataShort = "Error reading image data";
constexpr const char* kOutOfMemory = "Out Of Memory ";

// The short reasons behind those messages, for the caller's report.
constexpr const char* kWhyMissingTag = "incomplete TIFF directory";
constexpr const char* kWhyCompressed = "compressed TIFF is not supported";
constexpr const char* kWhyPixelFormat = "unsupported TIFF pixel format";
constexpr const char* kWhyTruncated = "truncated image data";

// Pixel rows are read through a buffer of about this size.
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;

enum class Kind { Bilevel, Grey, Palette, Rgb };

enum class Outcome {
    Decoded,
    Skipped,  // this directory is refused; the next one is tried
    Failed,   // the whole read gives false
};

// Colour table of the decoded rows, 16 bits per channel of which the low 8 are used.
struct DecodingPalette {
    std::array<std::uint16_t, 256> red{}, green{}, blue{};

    DecodingPalette() {
        for (unsigned i = 0; i < 256; ++i) Set(i, i, i, i);
    }
    void Set(unsigned i, unsigned r, unsigned g, unsigned b) {
        red[i] = static_cast<std::uint16_t>(r);
        green[i] = static_cast<std::uint16_t>(g);
        blue[i] = static_cast<std::uint16_t>(b);
    }
    void SetGrey(unsigned i, unsigned v) { Set(i, v, v, v); }
};

// Reads the strips, in strip order, as one stream of bytes, as if they had been read into
// one buffer.
class StripStream {
  public:
    StripStream(const TFileTiff& file, const TGraphicTiff& dir) : file_(file), dir_(dir) {}

    // The caller has made sure that the strips hold every byte it asks for. False when the
    // file cannot be read.
    bool Read(std::uint8_t* out, std::size_t size) { return Take(out, size); }
    bool Skip(std::size_t size) { return Take(nullptr, size); }

  private:
    bool Take(std::uint8_t* out, std::size_t size) {
        while (size > 0) {
            const TiffStrip& s = *dir_.Strip(strip_);
            const std::size_t take = std::min<std::size_t>(s.byteCount - pos_, size);
            if (out) {
                if (!file_.ReadAt(std::uint64_t{s.offset} + pos_, out, take)) return false;
                out += take;
            }
            size -= take;
            pos_ += static_cast<std::uint32_t>(take);
            if (pos_ == s.byteCount) {
                ++strip_;
                pos_ = 0;
            }
        }
        return true;
    }

    const TFileTiff& file_;
    const TGraphicTiff& dir_;
    int strip_ = 0;
    std::uint32_t pos_ = 0;
};

class TiffDecoder {
  public:
    TiffDecoder(const TFileTiff& file, Bitmap& target, const MessageCallback& onMessage,
                std::string* reason)
        : file_(file), target_(target), onMessage_(onMessage), reason_(reason) {}

    Outcome Decode(const TGraphicTiff& dir, Kind kind, std::uint32_t photometric);

  private:
    // Shows `text`, keeps `why` as the reason and skips the directory.
    Outcome Skip(const std::string& text, std::string_view why) {
        if (onMessage_) onMessage_(text);
        ozm::Refuse(reason_, why);
        return Outcome::Skipped;
    }
    // Ends the whole read without a message.
    Outcome Fail(std::string_view why) {
        ozm::Refuse(reason_, why);
        return Outcome::Failed;
    }
    // The kind's own tags: bit count and decoding palette, or the refusal.
    std::optional<Outcome> ReadKindTags(const TGraphicTiff& dir, Kind kind,
                                        std::uint32_t photometric, int& bitCount);
    std::optional<Outcome> CheckSampleLayout(const TGraphicTiff& dir, Kind kind);
    Outcome BuildBitmap(const TGraphicTiff& dir, Kind kind, int bitCount, std::uint32_t width,
                        std::uint32_t height);

    const TFileTiff& file_;
    Bitmap& target_;
    const MessageCallback& onMessage_;
    std::string* reason_;
    DecodingPalette palette_;
};

Outcome TiffDecoder::Decode(const TGraphicTiff& dir, Kind kind, std::uint32_t photometric) {
    palette_ = DecodingPalette();
    const TiffEntry* width = dir.FindEntry(TiffTag::ImageWidth);
    if (!width) return Skip(kNoWidth, kWhyMissingTag);
    const TiffEntry* height = dir.FindEntry(TiffTag::ImageLength);
    if (!height) return Skip(kNoHeight, kWhyMissingTag);
    if (kind == Kind::Bilevel && !dir.FindEntry(TiffTag::PhotometricInterpretation)) {
        return Skip(kNoPhotometric, kWhyMissingTag);
    }
    const TiffEntry* compression = dir.FindEntry(TiffTag::Compression);
    if (!compression) return Skip(kNoCompression, kWhyMissingTag);
    if (compression->value != kTiffUncompressed) {
        switch (kind) {
            case Kind::Bilevel:
                return Skip(kCompressedBilevel, kWhyCompressed);
            case Kind::Grey:
                return Skip(kCompressedGrey, kWhyCompressed);
            case Kind::Palette:
                return Skip(kCompressedPalette, kWhyCompressed);
            case Kind::Rgb:
                return Skip(kCompressedRgb, kWhyCompressed);
        }
    }
    int bitCount = 0;
    if (auto refused = ReadKindTags(dir, kind, photometric, bitCount)) return *refused;
    if (auto refused = CheckSampleLayout(dir, kind)) return *refused;
    return BuildBitmap(dir, kind, bitCount, width->value, height->value);
}

std::optional<Outcome> TiffDecoder::ReadKindTags(const TGraphicTiff& dir, Kind kind,
                                                 std::uint32_t photometric, int& bitCount) {
    const bool blackIsZero = photometric == TiffPhotometric::BlackIsZero;
    if (kind == Kind::Bilevel) {
        bitCount = 1;
        palette_.SetGrey(0, blackIsZero ? 0 : 255);
        palette_.SetGrey(1, blackIsZero ? 255 : 0);
        return std::nullopt;
    }
    const TiffEntry* bits = dir.FindEntry(TiffTag::BitsPerSample);
    if (!bits) return Skip(kNoBitsPerSample, kWhyMissingTag);
    switch (kind) {
        case Kind::Grey:
            if (bits->value == 8) {
                for (unsigned i = 0; i < 256; ++i) palette_.SetGrey(i, blackIsZero ? i : 255 - i);
            } else if (bits->value == 4) {
                for (unsigned i = 0; i < 16; ++i) {
                    palette_.SetGrey(i, (blackIsZero ? i : 15 - i) * 255 / 15);
                }
            } else {
                return Skip(kGreyBitsPerSample, kWhyPixelFormat);
            }
            bitCount = static_cast<int>(bits->value);
            return std::nullopt;
        case Kind::Palette: {
            if (bits->value != 1 && bits->value != 4 && bits->value != 8) {
                return Skip(kPaletteBitsPerSample, kWhyPixelFormat);
            }
            bitCount = static_cast<int>(bits->value);
            const TiffEntry* map = dir.FindEntry(TiffTag::ColorMap);
            if (!map) return Skip(kNoColorMap, kWhyMissingTag);
            // The map holds n red, then n green, then n blue values; 65535 is full intensity
            // and the high byte is kept. Entries past n keep the identity ramp.
            const std::uint32_t n = map->count / 3;
            if (n < 1 || n > 256) return std::nullopt;
            for (std::uint32_t i = 0; i < n; ++i) {
                const auto r = file_.ReadU16(std::uint64_t{map->value} + 2 * i);
                const auto g = file_.ReadU16(std::uint64_t{map->value} + 2 * (n + i));
                const auto b = file_.ReadU16(std::uint64_t{map->value} + 2 * (2 * n + i));
                if (!r || !g || !b) return Skip(kNoColorMap, kWhyMissingTag);
                palette_.Set(i, *r >> 8, *g >> 8, *b >> 8);
            }
            return std::nullopt;
        }
        case Kind::Rgb: {
            bitCount = 24;
            std::array<std::uint32_t, 3> samples{bits->value, bits->value, bits->value};
            if (bits->count != 1) {
                // Three or more 16-bit values, always at an offset; two would not name all
                // three samples.
                if (bits->count < 3) return Skip(kNoBitsPerSample, kWhyMissingTag);
                for (std::uint32_t i = 0; i < 3; ++i) {
                    const auto v = file_.ReadU16(std::uint64_t{bits->value} + 2 * i);
                    if (!v) return Skip(kNoBitsPerSample, kWhyMissingTag);
                    samples[i] = *v;
                }
            }
            for (std::uint32_t s : samples) {
                if (s != 8) return Skip(kRgbBitsPerSample, kWhyPixelFormat);
            }
            return std::nullopt;
        }
        case Kind::Bilevel:
            break;
    }
    return std::nullopt;
}

// Rows are decoded as one sample per pixel (three for RGB), all samples of a pixel together.
// Anything else would be misread as that layout, so it is refused.
std::optional<Outcome> TiffDecoder::CheckSampleLayout(const TGraphicTiff& dir, Kind kind) {
    const TiffEntry* samples = dir.FindEntry(TiffTag::SamplesPerPixel);
    const std::uint32_t samplesPerPixel = samples ? samples->value : 1;
    if (kind == Kind::Rgb) {
        if (samplesPerPixel != 3) return Skip(kRgbSamplesPerPixel, kWhyPixelFormat);
        const TiffEntry* planar = dir.FindEntry(TiffTag::PlanarConfiguration);
        if (planar && planar->value != kTiffChunky) return Skip(kPlanar, kWhyPixelFormat);
    } else if (samplesPerPixel != 1) {
        return Skip(kSamplesPerPixel, kWhyPixelFormat);
    }
    return std::nullopt;
}

Outcome TiffDecoder::BuildBitmap(const TGraphicTiff& dir, Kind kind, int bitCount,
                                 std::uint32_t width, std::uint32_t height) {
    const std::uint16_t stripCount = dir.StripCount();
    if (stripCount == 0) return Fail("TIFF directory without strips");
    std::uint64_t totalBytes = 0;
    for (int i = 0; i < stripCount; ++i) {
        const TiffStrip& s = *dir.Strip(i);
        if (std::uint64_t{s.offset} + s.byteCount > file_.FileSize())
            return Skip(kDataShort, kWhyTruncated);
        totalBytes += s.byteCount;
    }
    const TiffEntry* rowsPerStripEntry = dir.FindEntry(TiffTag::RowsPerStrip);
    if (!rowsPerStripEntry) return Fail(kWhyMissingTag);
    if (width == 0 || height == 0 || width > kMaxSide16 || height > kMaxSide16) {
        return Fail(IsAcceptableImageSize(width, height)
                        ? "image too large: " + std::to_string(width) + " x " +
                              std::to_string(height) + " pixels, limit 65535 per side"
                        : ImageSizeReason(width, height));
    }
    const std::uint32_t rowsPerStrip = std::min(rowsPerStripEntry->value, height);
    if (rowsPerStrip == 0) return Skip(kDataShort, kWhyTruncated);
    // The row length is what the first strip holds per row; it may exceed what the width
    // needs, never fall short of it. All rows must lie in the strips, and strips that overlap
    // cannot make an image bigger than the file.
    const std::uint64_t rowLength = dir.Strip(0)->byteCount / rowsPerStrip;
    const std::uint64_t rowBytes = (std::uint64_t{width} * static_cast<unsigned>(bitCount) + 7) / 8;
    const std::uint64_t needed = rowLength * height;
    if (rowLength < rowBytes || needed > totalBytes || needed > file_.FileSize()) {
        return Skip(kDataShort, kWhyTruncated);
    }

    Bitmap bitmap;
    if (!IsAcceptableImageSize(width, height) ||
        !bitmap.Create(static_cast<int>(width), static_cast<int>(height), bitCount, false)) {
        target_.Clear();
        return Skip(kOutOfMemory, IsAcceptableImageSize(width, height)
                                      ? std::string("out of memory")
                                      : ImageSizeReason(width, height));
    }
    // Rows go through a buffer of about 1 MiB that stays in the cache; rows that carry more
    // bytes than the width needs have the rest skipped.
    const std::size_t used = static_cast<std::size_t>(rowBytes);
    const std::size_t extra = static_cast<std::size_t>(rowLength - rowBytes);
    const std::size_t rowsPerChunk =
        std::min<std::size_t>(height, std::max<std::size_t>(1, kChunkBytes / used));
    std::vector<std::uint8_t> chunk(rowsPerChunk * used);
    StripStream stream(file_, dir);
    for (std::uint32_t y0 = 0; y0 < height; y0 += static_cast<std::uint32_t>(rowsPerChunk)) {
        const std::size_t n = std::min<std::size_t>(rowsPerChunk, height - y0);
        if (extra == 0) {
            if (!stream.Read(chunk.data(), n * used)) return Fail(kWhyTruncated);
        } else {
            for (std::size_t i = 0; i < n; ++i) {
                if (!stream.Read(chunk.data() + i * used, used) || !stream.Skip(extra)) {
                    return Fail(kWhyTruncated);
                }
            }
        }
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t* src = chunk.data() + i * used;
            std::uint8_t* dst = bitmap.Row(static_cast<int>(y0 + i));
            if (kind == Kind::Rgb) {
                // Samples come red, green, blue; the bitmap holds blue, green, red.
                CopySwappingRedBlue(src, dst, width);
            } else {
                std::memcpy(dst, src, used);
            }
            std::memset(dst + used, 0, bitmap.Stride() - used);
        }
    }
    if (bitmap.HasPalette()) {
        auto& table = bitmap.Palette();
        for (std::size_t i = 0; i < table.size(); ++i) {
            table[i] = RgbQuad{static_cast<std::uint8_t>(palette_.blue[i]),
                               static_cast<std::uint8_t>(palette_.green[i]),
                               static_cast<std::uint8_t>(palette_.red[i]), 0};
        }
    }
    target_ = std::move(bitmap);
    return Outcome::Decoded;
}

bool DecodeDirectories(const TFileTiff& file, Bitmap& out, const MessageCallback& onMessage,
                       std::string_view name, std::string* reason) {
    if (!file.Valid()) {
        if (onMessage) {
            std::string text = "<";
            text.append(name).append("> is not a valid TIFF file");
            onMessage(text);
        }
        return Refuse(reason, "not a TIFF file");
    }
    if (file.DirectoryCount() > TFileTiff::kMaxDirectories) {
        return Refuse(reason, "too many TIFF directories");
    }
    TiffDecoder decoder(file, out, onMessage, reason);
    bool decoded = false;
    for (int i = 0; i < file.DirectoryCount(); ++i) {
        const TGraphicTiff& dir = *file.Directory(i);
        const TiffEntry* photometric = dir.FindEntry(TiffTag::PhotometricInterpretation);
        if (!photometric) {
            if (onMessage) onMessage(kNoPhotometric);
            Refuse(reason, kWhyMissingTag);
            break;
        }
        if (photometric->value > TiffPhotometric::Palette) {
            if (onMessage) onMessage(kBadPhotometric + std::to_string(photometric->value));
            Refuse(reason, kWhyPixelFormat);
            break;
        }
        Kind kind = Kind::Rgb;
        if (photometric->value <= TiffPhotometric::BlackIsZero) {
            const TiffEntry* bits = dir.FindEntry(TiffTag::BitsPerSample);
            if (!bits || bits->value == 1) {
                kind = Kind::Bilevel;
            } else if (bits->value == 4 || bits->value == 8) {
                kind = Kind::Grey;
            } else {
                Refuse(reason, kWhyPixelFormat);
                continue;
            }
        } else if (photometric->value == TiffPhotometric::Palette) {
            kind = Kind::Palette;
        }
        switch (decoder.Decode(dir, kind, photometric->value)) {
            case Outcome::Decoded:
                decoded = true;
                break;
            case Outcome::Skipped:
                break;
            case Outcome::Failed:
                return false;
        }
    }
    if (!decoded) Refuse(reason, "no image in the TIFF file");
    return decoded;
}

}  // namespace

bool ReadTiffFile(const std::filesystem::path& path, Bitmap& out, const MessageCallback& onMessage,
                  std::string* reason) {
    TFileTiff file;
    if (!file.SetFileName(path, reason)) return false;
    return DecodeDirectories(file, out, onMessage, path.string(), reason);
}

bool ReadTiffData(std::span<const std::uint8_t> data, Bitmap& out, const MessageCallback& onMessage,
                  std::string_view name, std::string* reason) {
    TFileTiff file;
    file.LoadData(data);
    return DecodeDirectories(file, out, onMessage, name, reason);
}

}  // namespace ozm
