#include "app/convert/ListPreview.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
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
    return static_cast<int>(
        std::max<long long>(1, std::min(static_cast<long long>(imageWidth) / controlWidth,
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

// The reduced size of one side: blocks of `factor` pixels, the last one possibly shorter.
int ReducedSide(int side, int factor) { return (side + factor - 1) / factor; }

class FileHandle {
  public:
    explicit FileHandle(const std::string& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)) {}
    ~FileHandle() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    // The size of the regular file opened, or nullopt.
    std::optional<std::uint64_t> RegularSize() const {
        struct stat st {};
        if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
        return static_cast<std::uint64_t>(st.st_size);
    }
    bool ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t count) const {
        while (count > 0) {
            const ssize_t n = ::pread(fd_, out, count, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            out += n;
            offset += static_cast<std::uint64_t>(n);
            count -= static_cast<std::size_t>(n);
        }
        return true;
    }

  private:
    int fd_;
};

// The sums of one block row of the reduced picture, written out as means when complete.
class BlockRow {
  public:
    BlockRow(Bitmap& out, int sourceWidth, int sourceHeight, int factor)
        : out_(out),
          width_(sourceWidth),
          height_(sourceHeight),
          factor_(factor),
          sums_(static_cast<std::size_t>(out.Width()) * 3) {}

    // Source row `y` (24 bits); rows come in order, upwards or downwards.
    void Add(int y, const std::uint8_t* row) {
        const int blockRow = y / factor_;
        if (blockRow != current_) Flush();
        current_ = blockRow;
        std::uint64_t* sum = sums_.data();
        for (int x = 0; x < width_; x += factor_, sum += 3) {
            const int end = std::min(width_, x + factor_);
            for (const std::uint8_t* p = row + std::size_t(x) * 3; p < row + std::size_t(end) * 3;
                 p += 3) {
                sum[0] += p[0];
                sum[1] += p[1];
                sum[2] += p[2];
            }
        }
    }
    void Flush() {
        if (current_ < 0) return;
        const std::uint64_t rows = std::min(factor_, height_ - current_ * factor_);
        std::uint8_t* out = out_.Row(current_);
        for (int bx = 0; bx < out_.Width(); ++bx) {
            const std::uint64_t count = rows * std::min(factor_, width_ - bx * factor_);
            for (int c = 0; c < 3; ++c) {
                std::uint64_t& sum = sums_[std::size_t(bx) * 3 + std::size_t(c)];
                out[bx * 3 + c] = static_cast<std::uint8_t>((sum + count / 2) / count);
                sum = 0;
            }
        }
        current_ = -1;
    }

  private:
    Bitmap& out_;
    const int width_;
    const int height_;
    const int factor_;
    std::vector<std::uint64_t> sums_;
    int current_ = -1;
};

// An uncompressed BMP with an info header of 40 bytes or more, read in strips of about 1 MB
// that go through the program's own DIB decoder, and reduced as they come: a picture of
// 8200 x 8200 never needs its 200 MB at once. nullopt when the file is not such a BMP, is
// small enough to show whole, or is short of its rows: the whole-file reader takes it then,
// with its own rules. Otherwise true when the picture was read.
std::optional<bool> LoadBmpInStrips(const std::string& path, int controlWidth, int controlHeight,
                                    PreviewPicture& picture) {
    constexpr std::size_t kStripBytes = std::size_t{1} << 20;
    constexpr std::uint64_t kLongestInfo = 124 + 12 + 256 * 4;
    const FileHandle file(path);
    const auto fileSize = file.RegularSize();
    std::uint8_t head[kBmpFileHeaderBytes + kBitmapInfoHeaderBytes];
    if (!fileSize || !file.ReadAt(0, head, sizeof head) || head[0] != 'B' || head[1] != 'M')
        return std::nullopt;
    const std::uint8_t* h = head + kBmpFileHeaderBytes;
    const std::uint32_t infoBytes = LoadLe32(h);
    const std::uint64_t offBits = LoadLe32(head + 10);
    const auto width = static_cast<std::int32_t>(LoadLe32(h + 4));
    const auto storedHeight = static_cast<std::int32_t>(LoadLe32(h + 8));
    const int bitCount = LoadLe16(h + 14);
    const std::uint32_t compression = LoadLe32(h + 16);
    if (infoBytes < kBitmapInfoHeaderBytes || infoBytes > 124 ||
        (compression != kBiRgb && compression != kBiBitfields &&
         compression != kBiAlphaBitfields) ||
        storedHeight == INT_MIN || !IsAcceptableImageSize(width, std::abs(storedHeight)))
        return std::nullopt;
    const int height = std::abs(storedHeight);
    const int factor = PreviewReduction(width, height, controlWidth, controlHeight);
    const auto stride = RowStride(width, bitCount);
    if (factor < 2 || !stride || offBits < kBmpFileHeaderBytes + infoBytes ||
        offBits > kBmpFileHeaderBytes + kLongestInfo ||
        offBits + std::uint64_t{*stride} * std::uint64_t(height) > *fileSize)
        return std::nullopt;

    // The info header, its masks and colour table, as a packed DIB of one strip at a time,
    // stored top-down so that the decoded rows come in the file's order.
    std::vector<std::uint8_t> info(static_cast<std::size_t>(offBits - kBmpFileHeaderBytes));
    if (!file.ReadAt(kBmpFileHeaderBytes, info.data(), info.size())) return false;
    Bitmap& out = picture.bitmap;
    if (!out.Create(ReducedSide(width, factor), ReducedSide(height, factor), 24)) return false;
    BlockRow blocks(out, width, height, factor);
    const int stripRows = static_cast<int>(std::max<std::size_t>(1, kStripBytes / *stride));
    std::vector<std::uint8_t> bits;
    Bitmap strip;
    for (int first = 0; first < height; first += stripRows) {
        const int rows = std::min(stripRows, height - first);
        bits.resize(*stride * static_cast<std::size_t>(rows));
        StoreLe32(info.data() + 8, static_cast<std::uint32_t>(-rows));
        if (!file.ReadAt(offBits + std::uint64_t{*stride} * std::uint64_t(first), bits.data(),
                         bits.size()) ||
            !DecodeDib(info, bits, strip) || !ConvertTo24InPlace(strip))
            return false;
        for (int i = 0; i < rows; ++i) {
            const int stored = first + i;
            blocks.Add(storedHeight > 0 ? height - 1 - stored : stored, strip.Row(i));
        }
    }
    blocks.Flush();
    picture.width = width;
    picture.height = height;
    return true;
}

// Area averaging down to about the control's size: the window then stretches a picture of
// a few hundred thousand pixels, not one of 67 million.
void ReduceForControl(Bitmap& bitmap, int controlWidth, int controlHeight) {
    const int factor =
        PreviewReduction(bitmap.Width(), bitmap.Height(), controlWidth, controlHeight);
    if (factor < 2) return;
    Bitmap reduced;
    if (BoxResampleTo24(bitmap, reduced, ReducedSide(bitmap.Width(), factor),
                        ReducedSide(bitmap.Height(), factor)))
        bitmap = std::move(reduced);
    else
        bitmap.Clear();
}

void LoadPreviewByKind(const std::string& path, int controlWidth, int controlHeight,
                       PreviewPicture& picture) {
    switch (PreviewKindForFile(path)) {
        case PreviewKind::Jpeg:
            LoadJpegPreview(path, controlWidth, controlHeight, picture);
            return;
        case PreviewKind::Picture:
            if (const auto read = LoadBmpInStrips(path, controlWidth, controlHeight, picture)) {
                if (!*read) picture.bitmap.Clear();
                return;
            }
            // The reader's own messages are for a conversion; a preview says nothing.
            if (!ReadImageFile(path, picture.bitmap)) {
                picture.bitmap.Clear();
                return;
            }
            picture.width = picture.bitmap.Width();
            picture.height = picture.bitmap.Height();
            ReduceForControl(picture.bitmap, controlWidth, controlHeight);
            return;
        case PreviewKind::SystemPicture:
            if (!DecodeFileAs(path, kIconFileShape, &DecodeIconPicture, picture.bitmap))
                picture.hidePanel = true;
            picture.width = picture.bitmap.Width();
            picture.height = picture.bitmap.Height();
            return;
    }
}

}  // namespace

PreviewPicture LoadPreviewPicture(const std::string& path, int controlWidth, int controlHeight) {
    PreviewPicture picture;
    try {
        LoadPreviewByKind(path, controlWidth, controlHeight, picture);
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
