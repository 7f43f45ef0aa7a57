#include "app/convert/ListPreview.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <vector>

#include "core/formats/ImgConvertUnit.h"
#include "core/formats/io/ByteOrder.h"
#include "core/formats/io/FileBytes.h"
#include "core/formats/raster/BmpCodec.h"
#include "core/formats/raster/JpegCodec.h"
#include "core/formats/raster/JpegPreview.h"
#include "core/formats/raster/PngCodec.h"
#include "core/text/TextRules.h"
#include "core/transforms/BoxResize.h"

namespace ozm {

PreviewKind PreviewKindForFile(std::string_view path) {
    const std::string ext = AsciiLower(ExtractFileExt(path));
    if (ext == ".jpg" || ext == ".jpeg" || ext == ".jpe" || ext == ".jfif")
        return PreviewKind::Jpeg;
    const ImageFormat* format = FormatForReadExtension(ext);
    return format && format->decoder ? PreviewKind::Picture : PreviewKind::SystemPicture;
}

int PreviewReduction(int imageWidth, int imageHeight, int controlWidth, int controlHeight) {
    if (controlWidth <= 0 || controlHeight <= 0) return 8;
    return static_cast<int>(std::max<long long>(
        1, std::min(static_cast<long long>(imageWidth) / controlWidth,
                    static_cast<long long>(imageHeight) / controlHeight)));
}

int JpegPreviewScaleDenominator(int imageWidth, int imageHeight, int controlWidth,
                                int controlHeight) {
    if (controlWidth <= 0 || controlHeight <= 0) return 8;
    // Both ratios are truncated toward zero; the smaller whole part is the smaller ratio's.
    const long long factor = std::min(static_cast<long long>(imageHeight) / controlHeight,
                                      static_cast<long long>(imageWidth) / controlWidth);
    if (factor >= 8) return 8;
    if (factor >= 4) return 4;
    if (factor >= 2) return 2;
    return 1;
}

namespace {

// Icon files start with a reserved 0 and the type 1, both 16-bit.
constexpr std::string_view kIconMagic("\0\0\1\0", 4);
constexpr FileShape kIconFileShape{kMaxInputFileBytes, kIconMagic, "not an icon file"};
constexpr std::size_t kIconDirectoryBytes = 6;
constexpr std::size_t kIconEntryBytes = 16;
constexpr std::size_t kBmpFileHeaderBytes = 14;
constexpr std::size_t kBitmapInfoHeaderBytes = 40;
constexpr std::string_view kPngSignature("\x89PNG\r\n\x1A\n", 8);

// The picture at 24 bits, or 8 with its palette, as the window's image control takes it.
bool ToShownDepth(Bitmap& bitmap) {
    return bitmap.BitCount() == 24 || bitmap.BitCount() == 8 || ConvertTo24InPlace(bitmap);
}

bool DecodeFileAs(const std::string& path, const FileShape& shape,
                  bool (*decode)(std::span<const std::uint8_t>, Bitmap&, std::string*),
                  Bitmap& out) {
    const auto bytes = ReadFileBytes(path, nullptr, shape);
    return bytes && decode(*bytes, out, nullptr);
}

void LoadJpegPreview(const std::string& path, int controlWidth, int controlHeight,
                     PreviewPicture& picture) {
    // The decoder's own scaling: a reduced JPEG decode costs a fraction of a full one.
    const auto bytes = ReadFileBytes(path, nullptr, kJpegFileShape);
    int width = 0;
    int height = 0;
    if (bytes && ReadJpegSize(*bytes, width, height) &&
        DecodeJpegScaled(*bytes,
                         JpegPreviewScaleDenominator(width, height, controlWidth, controlHeight),
                         picture.bitmap)) {
        picture.width = width;
        picture.height = height;
    } else {
        picture.bitmap.Clear();
    }
}

void LoadPreviewByKind(const std::string& path, int controlWidth, int controlHeight,
                       PreviewPicture& picture) {
    switch (PreviewKindForFile(path)) {
        case PreviewKind::Jpeg:
            LoadJpegPreview(path, controlWidth, controlHeight, picture);
            return;
        case PreviewKind::Picture:
            // The reader's own messages are for a conversion; a preview says nothing.
            if (!ReadImageFile(path, picture.bitmap)) picture.bitmap.Clear();
            break;
        case PreviewKind::SystemPicture:
            if (!DecodeFileAs(path, kIconFileShape, &DecodeIconPicture, picture.bitmap))
                picture.hidePanel = true;
            break;
    }
    picture.width = picture.bitmap.Width();
    picture.height = picture.bitmap.Height();
}

// Area averaging down to about the control's size: the window then stretches a picture of
// a few hundred thousand pixels, not one of 67 million.
void ReduceForControl(Bitmap& bitmap, int controlWidth, int controlHeight) {
    const int factor =
        PreviewReduction(bitmap.Width(), bitmap.Height(), controlWidth, controlHeight);
    if (factor < 2) return;
    Bitmap reduced;
    const int width = std::max(1, (bitmap.Width() + factor / 2) / factor);
    const int height = std::max(1, (bitmap.Height() + factor / 2) / factor);
    if (BoxResampleTo24(bitmap, reduced, width, height))
        bitmap = std::move(reduced);
    else
        bitmap.Clear();
}

}  // namespace

PreviewPicture LoadPreviewPicture(const std::string& path, int controlWidth, int controlHeight) {
    PreviewPicture picture;
    try {
        LoadPreviewByKind(path, controlWidth, controlHeight, picture);
        if (!picture.bitmap.Empty()) ReduceForControl(picture.bitmap, controlWidth, controlHeight);
        if (!picture.bitmap.Empty() && !ToShownDepth(picture.bitmap)) picture.bitmap.Clear();
    } catch (...) {
        picture.bitmap.Clear();
    }
    if (picture.bitmap.Empty()) picture.width = picture.height = 0;
    return picture;
}

bool DecodeIconPicture(std::span<const std::uint8_t> data, Bitmap& out, std::string* reason) {
    if (data.size() < kIconDirectoryBytes + kIconEntryBytes)
        return Refuse(reason, "truncated icon file");
    if (LoadLe16(data.data()) != 0 || LoadLe16(data.data() + 2) != 1)
        return Refuse(reason, "not an icon file");
    if (LoadLe16(data.data() + 4) == 0) return Refuse(reason, "icon file without pictures");
    const std::uint8_t* entry = data.data() + kIconDirectoryBytes;
    const std::uint64_t offset = LoadLe32(entry + 12);
    if (offset >= data.size()) return Refuse(reason, "truncated icon file");
    // A stated length past the end of the file is cut to the file: the decoders check what
    // they need.
    const auto picture = data.subspan(static_cast<std::size_t>(offset),
                                      static_cast<std::size_t>(std::min<std::uint64_t>(
                                          LoadLe32(entry + 8), data.size() - offset)));
    if (picture.size() >= kPngSignature.size() &&
        std::memcmp(picture.data(), kPngSignature.data(), kPngSignature.size()) == 0)
        return DecodePng(picture, out, reason);
    if (picture.size() < kBitmapInfoHeaderBytes ||
        LoadLe32(picture.data()) < kBitmapInfoHeaderBytes)
        return Refuse(reason, "unsupported icon picture");
    // The DIB as a bitmap file of its colour half: a file header whose pixel offset of 0 puts
    // the rows right after the colour table, and the stored height halved.
    std::vector<std::uint8_t> file(kBmpFileHeaderBytes + picture.size());
    file[0] = 'B';
    file[1] = 'M';
    StoreLe32(file.data() + 2, static_cast<std::uint32_t>(file.size()));
    std::copy(picture.begin(), picture.end(), file.begin() + kBmpFileHeaderBytes);
    const auto storedHeight = static_cast<std::int32_t>(LoadLe32(picture.data() + 8));
    StoreLe32(file.data() + kBmpFileHeaderBytes + 8, static_cast<std::uint32_t>(storedHeight / 2));
    return DecodeBmp(file, out, reason) || Refuse(reason, "damaged icon picture");
}

PreviewLoader::PreviewLoader(Deliver deliver) : deliver_(std::move(deliver)) {
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // No thread: Request loads at once.
    }
}

PreviewLoader::~PreviewLoader() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
        waiting_[0].reset();
        waiting_[1].reset();
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

std::uint64_t PreviewLoader::Request(ListSide side, std::string path, int controlWidth,
                                     int controlHeight) {
    std::uint64_t request = 0;
    {
        std::lock_guard lock(mutex_);
        request = nextRequest_++;
        newest_[side == ListSide::Source ? 0 : 1] = request;
        if (thread_.joinable())
            Slot(side) = Pending{request, std::move(path), controlWidth, controlHeight};
    }
    if (thread_.joinable()) {
        wake_.notify_all();
    } else {
        deliver_(side, request, LoadPreviewPicture(path, controlWidth, controlHeight));
    }
    return request;
}

std::uint64_t PreviewLoader::Newest(ListSide side) const {
    std::lock_guard lock(mutex_);
    return newest_[side == ListSide::Source ? 0 : 1];
}

void PreviewLoader::Cancel() {
    std::lock_guard lock(mutex_);
    waiting_[0].reset();
    waiting_[1].reset();
}

void PreviewLoader::Run() {
    for (;;) {
        ListSide side = ListSide::Source;
        Pending next;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return ending_ || waiting_[0] || waiting_[1]; });
            if (ending_) return;
            side = waiting_[0] ? ListSide::Source : ListSide::Target;
            next = std::move(*Slot(side));
            Slot(side).reset();
        }
        PreviewPicture picture = LoadPreviewPicture(next.path, next.width, next.height);
        if (Newest(side) == next.request) deliver_(side, next.request, std::move(picture));
    }
}

std::string PreviewSizeLabel(int width, int height, bool leadingBlank) {
    std::string out = leadingBlank ? " [" : "[";
    out += "宽度:" + std::to_string(width) + ",高度:" + std::to_string(height) + "]";
    return out;
}

}  // namespace ozm
