#pragma once
// The image reader and the image writer: one file into a bitmap, one bitmap into a file.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/bitmap/Bitmap.h"
#include "core/formats/ImageFormats.h"
#include "core/formats/PhotoMetadata.h"
#include "core/formats/io/OutputFile.h"

namespace ozm {

// Reads the file into `target`, choosing the decoder by the ASCII-lower-cased extension
// alone. False for a missing, unreadable, damaged or unsupported file; `target` is then of no
// use, and `reason`, when given, says why in a few words ("not a PNG file", "empty file").
// Only the TIFF reader tells `onMessage` anything.
bool ReadImageFile(const std::filesystem::path& path, Bitmap& target,
                   const MessageCallback& onMessage = {}, std::string* reason = nullptr);

struct WriteSettings {
    int jpegQuality = 75;           // 1..100; its low byte goes to the encoder
    std::uint8_t pngFilterSet = 1;  // None only: every row carries filter type 0
    bool lossless = false;          // WebP: every pixel exact (the quality then sets the effort)
    // Most threads one image's write may keep busy (PNG bands, row conversions), the caller
    // included; the process's thread budget may grant fewer. The bytes written do not
    // depend on it.
    int threads = 1;
    bool replaceExisting = true;  // false: never replace a file that exists by then
    // With replaceExisting false: when the name turns out to be taken at the moment the
    // finished file is put in place, the next name to try (nullopt gives up).
    std::function<std::optional<std::filesystem::path>()> nextFreeName;
    // The EXIF block and ICC profile to carry: JPEG, PNG and WebP write both, TIFF the
    // profile, the other formats neither. Null: none, as the desktop program writes.
    const PhotoMetadata* metadata = nullptr;
};

// What a write did: the name the file got, or why nothing was written.
struct ImageWriteReport {
    std::filesystem::path written;
    std::string reason;
};

// The output name: the path unchanged when its lower-cased extension is the code's, else the
// path with its extension replaced by the code's. Empty for codes other than 1..8 and 10.
std::filesystem::path OutputNameFor(const std::filesystem::path& path, ImageFormatCode code);

// Writes `bitmap` in the format of `code` under OutputNameFor(path, code). The file appears
// only when complete; a missing folder, a read-only existing file or an encoder failure leaves
// no file and no change. Codes other than 1..8 and 10 write nothing. True when the file was
// written.
bool WriteImageFile(const Bitmap& bitmap, const std::filesystem::path& path, ImageFormatCode code,
                    const WriteSettings& settings, ImageWriteReport* report = nullptr);
// WriteImageFile in two halves, so that an image can be encoded before its name is chosen.
// The first: `bitmap` encoded into an unnamed file in the folder of `path`, under no name yet;
// null, with the reason in `report`, when it could not be.
std::unique_ptr<OutputFile> EncodeImageFile(const Bitmap& bitmap, const std::filesystem::path& path,
                                            ImageFormatCode code, const WriteSettings& settings,
                                            ImageWriteReport* report = nullptr);
// The second: the encoded file put in place under OutputNameFor(path, code), a folder of the
// same file system as the one it was encoded in, as WriteImageFile would.
bool CommitImageFile(OutputFile& file, const std::filesystem::path& path, ImageFormatCode code,
                     const WriteSettings& settings, ImageWriteReport* report = nullptr);
// The same with the default settings (JPEG quality 75).
bool WriteImageFile(const Bitmap& bitmap, const std::filesystem::path& path, ImageFormatCode code);

}  // namespace ozm
