#pragma once
// Helpers shared by the tests: a scratch folder, the committed test files, and a second
// decoder (Pillow) to compare our pixels with.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/bitmap/Bitmap.h"

namespace ozm::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

std::filesystem::path DataFile(const std::string& name);

// Runs body(0) .. body(count - 1) each in a child process of its own, all at once, and waits
// for them: true when every child's body returned true. For what is process-wide (limits,
// signals) or must really race between processes (locks).
bool RunInChildProcesses(int count, const std::function<bool(int index)>& body);

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path);
void WriteAll(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
// Writes `text` as the file's whole content, making its folders first.
void WriteText(const std::filesystem::path& path, const std::string& text);

// An image as 8-bit red, green, blue triples, row 0 at the top.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

// The bitmap's colours (palette looked up) as an RgbImage.
RgbImage ToRgb(const Bitmap& bitmap);

// Decodes the file with Pillow (first frame, converted to RGB). nullopt with `why` set when
// python3 or Pillow is missing or the file is refused.
std::optional<RgbImage> DecodeWithSecondDecoder(const std::filesystem::path& file,
                                                std::string& why);

// Number of channel values that differ by more than `tolerance`, or -1 when the sizes differ.
long CountDifferences(const RgbImage& a, const RgbImage& b, int tolerance = 0);

// A bitmap of the given depth filled with a deterministic pattern (a full palette of
// distinct colours for palette depths).
Bitmap MakePatternBitmap(int width, int height, int bitCount, unsigned seed = 1);

// What an encoder writes to a file, or nothing when it returns false.
std::vector<std::uint8_t> EncodeToBytes(const std::function<bool(std::FILE*)>& encode);

// Whether a command is on PATH.
bool HaveTool(const std::string& name);

}  // namespace ozm::test

namespace ozm::test {

// Decodes `file` with our decoder `decode` and with the second decoder and expects the same
// size and pixels within `tolerance`. Skips (returns false, with `skipReason`) when the
// second decoder is unavailable.
template <typename Decode>
::testing::AssertionResult SameAsSecondDecoder(const std::filesystem::path& file, Decode decode,
                                               int tolerance, std::string& skipReason);

// Files of a test-data folder with the given extension, sorted by name.
std::vector<std::filesystem::path> DataFiles(const std::string& folder, const std::string& ext);

}  // namespace ozm::test

template <typename Decode>
::testing::AssertionResult ozm::test::SameAsSecondDecoder(const std::filesystem::path& file,
                                                          Decode decode, int tolerance,
                                                          std::string& skipReason) {
    const auto reference = DecodeWithSecondDecoder(file, skipReason);
    if (!reference) return ::testing::AssertionSuccess();
    skipReason.clear();
    const auto bytes = ReadAll(file);
    Bitmap ours;
    if (!decode(std::span<const std::uint8_t>(bytes), ours)) {
        return ::testing::AssertionFailure() << file.filename() << ": our decoder refused it";
    }
    const RgbImage mine = ToRgb(ours);
    const long diff = CountDifferences(mine, *reference, tolerance);
    if (diff < 0) {
        return ::testing::AssertionFailure()
               << file.filename() << ": size " << mine.width << "x" << mine.height
               << " but the second decoder gives " << reference->width << "x" << reference->height;
    }
    if (diff > 0) {
        return ::testing::AssertionFailure() << file.filename() << ": " << diff
                                             << " channel values differ by more than " << tolerance;
    }
    return ::testing::AssertionSuccess();
}
