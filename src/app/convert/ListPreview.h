#pragma once
// Rules of the preview panels under the two file lists: how a file is loaded for its
// preview, the scale at which it is shown, and the size label. The loading is done here, on a
// thread of its own (PreviewLoader); the window only shows the bitmap.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "app/convert/FolderLists.h"
#include "core/bitmap/Bitmap.h"

namespace ozm {

enum class PreviewKind {
    Jpeg,           // decoded at a reduced scale (JpegPreviewScaleDenominator)
    Picture,        // any other format the program converts: read by the program's reader
    SystemPicture,  // any other listed file (icons): the icon's first picture; the panel
                    // is hidden when it cannot be read
};

// By the file's extension, compared without regard to ASCII case.
PreviewKind PreviewKindForFile(std::string_view path);

// The JPEG decoder's scale for a preview: 1 (full size), 2, 4 or 8 (one half, one quarter,
// one eighth), from the whole part of the smaller of the ratios image height / control height
// and image width / control width: below 2 full size, 2-3 one half, 4-7 one quarter, 8 or
// more one eighth. A control side of 0 or less (a collapsed panel) gives 8.
int JpegPreviewScaleDenominator(int imageWidth, int imageHeight, int controlWidth,
                                int controlHeight);

// The whole factor a picture of imageWidth x imageHeight is reduced by for a control of
// controlWidth x controlHeight: the whole part of the smaller of the two ratios, at least 1,
// so the reduced picture still covers the control. A control side of 0 or less (a collapsed
// panel) gives 8, as for a JPEG.
int PreviewReduction(int imageWidth, int imageHeight, int controlWidth, int controlHeight);

// A list's current file as its preview panel shows it.
struct PreviewPicture {
    bool hidePanel = false;  // the panel goes: a kind not previewed, or an unreadable icon
    int width = 0;           // the size the label reports: the image's full size, or 0 by 0
    int height = 0;          // when nothing is shown
    // What the image control shows: 24 bits per pixel, or 8 bits with its palette (a grey
    // JPEG); empty when the file could not be read (the control is then hidden).
    Bitmap bitmap;
};

// Loads `path` for an image control of controlWidth x controlHeight pixels, by its
// PreviewKindForFile: a JPEG at the reduced scale, any other picture through the program's
// reader, an icon's first picture; then reduced by PreviewReduction with area averaging. The
// full size is reported. Never throws.
PreviewPicture LoadPreviewPicture(const std::string& path, int controlWidth, int controlHeight);

// Loads the two lists' previews on a thread of its own, so that the window never waits for a
// decode (a picture of 8200 x 8200 takes about a second). Only each side's newest request
// counts: one still waiting is replaced by a newer one, and a finished picture is handed on
// only while its request is still the side's newest.
class PreviewLoader {
  public:
    // Runs on the loader's thread with the side, the request's number and its picture.
    using Deliver = std::function<void(ListSide side, std::uint64_t request, PreviewPicture)>;
    explicit PreviewLoader(Deliver deliver);
    // Waits for the picture being loaded; requests still waiting are dropped.
    ~PreviewLoader();
    PreviewLoader(const PreviewLoader&) = delete;
    PreviewLoader& operator=(const PreviewLoader&) = delete;

    // Asks for `path`'s preview; returns the request's number. Without a thread to be had,
    // the picture is loaded and handed on before this returns.
    std::uint64_t Request(ListSide side, std::string path, int controlWidth, int controlHeight);
    // The number of `side`'s newest request (0: none): a picture of an older one is stale.
    std::uint64_t Newest(ListSide side) const;
    // Drops the requests still waiting, for both sides.
    void Cancel();

  private:
    struct Pending {
        std::uint64_t request = 0;
        std::string path;
        int width = 0;
        int height = 0;
    };
    void Run();
    std::optional<Pending>& Slot(ListSide side) {
        return side == ListSide::Source ? waiting_[0] : waiting_[1];
    }

    Deliver deliver_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Pending> waiting_[2];
    std::uint64_t newest_[2] = {0, 0};
    std::uint64_t nextRequest_ = 1;
    bool ending_ = false;
    std::thread thread_;
};

// The first picture of a Windows icon file held whole in `data`: a PNG, or a DIB stored at
// twice the picture's height whose mask half is left out (masked pixels show their own
// colour). False, with `reason` when given, when it cannot be read.
bool DecodeIconPicture(std::span<const std::uint8_t> data, Bitmap& out,
                       std::string* reason = nullptr);

// "[宽度:800,高度:600]", with a blank in front for the source list's label.
std::string PreviewSizeLabel(int width, int height, bool leadingBlank);

}  // namespace ozm
