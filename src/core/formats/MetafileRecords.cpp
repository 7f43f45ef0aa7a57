#include "core/formats/MetafileRecords.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "core/text/TextRules.h"

namespace ozm::metafile {

void RecordReader::Need(std::size_t offset, std::size_t count) const {
    if (!Has(offset, count)) throw RecordError("record field outside the record");
}

void RecordReader::NeedArray(std::size_t offset, std::uint64_t count,
                             std::size_t elementSize) const {
    if (offset > bytes_.size()) throw RecordError("record array outside the record");
    const std::uint64_t room = bytes_.size() - offset;
    if (elementSize != 0 && count > room / elementSize) {
        throw RecordError("record array larger than the record");
    }
}

std::uint8_t RecordReader::U8(std::size_t offset) const {
    Need(offset, 1);
    return bytes_[offset];
}

std::uint16_t RecordReader::U16(std::size_t offset) const {
    Need(offset, 2);
    return static_cast<std::uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
}

std::uint32_t RecordReader::U32(std::size_t offset) const {
    Need(offset, 4);
    return static_cast<std::uint32_t>(bytes_[offset]) |
           (static_cast<std::uint32_t>(bytes_[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes_[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes_[offset + 3]) << 24);
}

float RecordReader::F32(std::size_t offset) const {
    const std::uint32_t bits = U32(offset);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::span<const std::uint8_t> RecordReader::Bytes(std::size_t offset, std::size_t count) const {
    Need(offset, count);
    return bytes_.subspan(offset, count);
}

bool DrawsSomething(std::uint32_t type) {
    switch (type) {
        case emr::kPolyBezier:
        case emr::kPolygon:
        case emr::kPolyline:
        case emr::kPolyBezierTo:
        case emr::kPolylineTo:
        case emr::kPolyPolyline:
        case emr::kPolyPolygon:
        case emr::kSetPixelV:
        case emr::kAngleArc:
        case emr::kEllipse:
        case emr::kRectangle:
        case emr::kRoundRect:
        case emr::kArc:
        case emr::kChord:
        case emr::kPie:
        case emr::kLineTo:
        case emr::kArcTo:
        case emr::kPolyDraw:
        case emr::kFillPath:
        case emr::kStrokeAndFillPath:
        case emr::kStrokePath:
        case emr::kFillRgn:
        case emr::kFrameRgn:
        case emr::kInvertRgn:
        case emr::kPaintRgn:
        case emr::kBitBlt:
        case emr::kStretchBlt:
        case 78:  // mask blit
        case 79:  // parallelogram blit
        case emr::kSetDiBitsToDevice:
        case emr::kStretchDiBits:
        case emr::kExtTextOutA:
        case emr::kExtTextOutW:
        case emr::kPolyBezier16:
        case emr::kPolygon16:
        case emr::kPolyline16:
        case emr::kPolyBezierTo16:
        case emr::kPolylineTo16:
        case emr::kPolyPolyline16:
        case emr::kPolyPolygon16:
        case emr::kPolyDraw16:
        case 96:  // poly text out, 8-bit
        case 97:  // poly text out, 16-bit
        case emr::kSmallTextOut:
        case emr::kAlphaBlend:
        case emr::kTransparentBlt:
        case emr::kGradientFill:
            return true;
        default:
            return false;
    }
}

bool LooksLikeEmf(std::span<const std::uint8_t> data) {
    const RecordReader r(data);
    return r.Has(0, 44) && r.U32(0) == emr::kHeader && r.U32(40) == kEmfSignature;
}

std::optional<EmfHeader> ReadEmfHeader(std::span<const std::uint8_t> data) {
    const RecordReader r(data);
    // The smallest header that carries the reference device ends at byte 88.
    if (!LooksLikeEmf(data) || !r.Has(0, 88)) return std::nullopt;
    EmfHeader h;
    h.headerSize = r.U32(4);
    if (h.headerSize < 88 || h.headerSize > data.size()) return std::nullopt;
    auto rect = [&](std::size_t at) {
        return RectL{r.I32(at), r.I32(at + 4), r.I32(at + 8), r.I32(at + 12)};
    };
    h.bounds = rect(8);
    h.frame = rect(24);
    h.totalBytes = r.U32(48);
    h.handleCount = r.U16(56);
    h.devicePixels = SizeL{r.I32(72), r.I32(76)};
    h.deviceMillimetres = SizeL{r.I32(80), r.I32(84)};
    if (h.headerSize >= 108) h.deviceMicrometres = SizeL{r.I32(100), r.I32(104)};
    return h;
}

std::uint16_t PlaceableChecksum(std::span<const std::uint8_t> header) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i + 1 < 20 && i + 1 < header.size(); i += 2) {
        sum ^= static_cast<std::uint16_t>(header[i] | (header[i + 1] << 8));
    }
    return sum;
}

std::optional<PlaceableHeader> ReadPlaceableHeader(std::span<const std::uint8_t> data) {
    const RecordReader r(data);
    if (!r.Has(0, kPlaceableHeaderSize) || r.U32(0) != kPlaceableKey) return std::nullopt;
    PlaceableHeader h;
    h.left = r.I16(6);
    h.top = r.I16(8);
    h.right = r.I16(10);
    h.bottom = r.I16(12);
    h.unitsPerInch = r.U16(14);
    h.checksum = r.U16(20);
    if (h.checksum != PlaceableChecksum(data.first(20))) return std::nullopt;
    return h;
}

std::optional<std::int64_t> MulDivRound(std::int64_t a, std::int64_t b, std::int64_t c) {
    if (c == 0) return std::nullopt;
    __int128 num = static_cast<__int128>(a) * b;
    __int128 den = c;
    if (den < 0) {
        num = -num;
        den = -den;
    }
    const __int128 half = den / 2;
    const __int128 q = num >= 0 ? (num + half) / den : -((-num + half) / den);
    if (q > std::numeric_limits<std::int64_t>::max() ||
        q < std::numeric_limits<std::int64_t>::min()) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(q);
}

namespace {

// Windows-1252 for the 0x80..0x9F range; the rest of the western page is Latin-1.
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

const char* CodePageFor(std::uint8_t charSet) {
    switch (charSet) {
        case 128:
            return "SHIFT_JIS";
        case 129:
            return "CP949";
        case 134:
            return "GBK";
        case 136:
            return "BIG5";
        case 161:
            return "CP1253";
        case 162:
            return "CP1254";
        case 163:
            return "CP1258";
        case 177:
            return "CP1255";
        case 178:
            return "CP1256";
        case 186:
            return "CP1257";
        case 204:
            return "CP1251";
        case 222:
            return "CP874";
        case 238:
            return "CP1250";
        default:
            return nullptr;
    }
}

class Iconv {
  public:
    explicit Iconv(const char* from) : cd_(iconv_open("UTF-32LE", from)) {}
    ~Iconv() {
        if (ok()) iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts exactly `n` bytes into one code point; false when they are not one
    // complete character.
    bool One(const std::uint8_t* in, std::size_t n, std::uint32_t& cp) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char inBuf[4];
        std::memcpy(inBuf, in, n);
        char outBuf[16];
        char* inPtr = inBuf;
        char* outPtr = outBuf;
        std::size_t inLeft = n, outLeft = sizeof outBuf;
        if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
            inLeft != 0 || sizeof outBuf - outLeft != 4) {
            return false;
        }
        cp = static_cast<std::uint32_t>(static_cast<std::uint8_t>(outBuf[0])) |
             (static_cast<std::uint32_t>(static_cast<std::uint8_t>(outBuf[1])) << 8) |
             (static_cast<std::uint32_t>(static_cast<std::uint8_t>(outBuf[2])) << 16) |
             (static_cast<std::uint32_t>(static_cast<std::uint8_t>(outBuf[3])) << 24);
        return true;
    }

  private:
    iconv_t cd_;
};

}  // namespace

std::vector<AnsiChar> DecodeAnsiText(std::span<const std::uint8_t> text, std::uint8_t charSet) {
    std::vector<AnsiChar> out;
    out.reserve(text.size());
    const char* page = CodePageFor(charSet);
    std::optional<Iconv> conv;
    if (page) {
        conv.emplace(page);
        if (!conv->ok()) conv.reset();
    }
    for (std::size_t i = 0; i < text.size();) {
        const std::uint8_t c = text[i];
        std::uint32_t cp = 0;
        if (conv && c >= 0x80) {
            if (conv->One(&text[i], 1, cp)) {
                out.push_back({cp, 1});
                ++i;
            } else if (i + 1 < text.size() && conv->One(&text[i], 2, cp)) {
                out.push_back({cp, 2});
                i += 2;
            } else {
                out.push_back({0xFFFD, 1});
                ++i;
            }
            continue;
        }
        if (charSet == 2) {
            cp = c;  // symbol fonts: the byte is the glyph's code
        } else {
            cp = (c >= 0x80 && c < 0xA0) ? kCp1252High[c - 0x80] : c;
        }
        out.push_back({cp, 1});
        ++i;
    }
    return out;
}

std::string Utf16ToUtf8(std::span<const std::uint16_t> units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint32_t u = units[i];
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else {
            AppendUtf8(out, u);  // a lone surrogate becomes U+FFFD
        }
    }
    return out;
}

}  // namespace ozm::metafile
