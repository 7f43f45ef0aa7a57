#include "core/formats/PhotoMetadata.h"

#include <libexif/exif-data.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "core/formats/io/ByteOrder.h"
#include "core/formats/tiff/ReadTiffTags.h"
#include "core/formats/tiff/TiffTags.h"

namespace ozm {

namespace {

using Bytes = std::span<const std::uint8_t>;

// The blocks found so far, and whether the EXIF block is wanted at all (neither read nor
// noted when it is not).
struct Reading : PhotoMetadata {
    bool wantExif = true;
};

bool StartsWith(Bytes data, std::string_view text) {
    return data.size() >= text.size() && std::memcmp(data.data(), text.data(), text.size()) == 0;
}

void Note(std::vector<std::string>* notes, std::string text) {
    if (notes && std::find(notes->begin(), notes->end(), text) == notes->end())
        notes->push_back(std::move(text));
}

// Keeps an EXIF block when it is a TIFF structure of a sane size. Some writers leave the JPEG
// segment's "Exif\0\0" in front of a PNG or WebP block; it is dropped.
void KeepExif(Bytes block, Reading& out, std::vector<std::string>* notes) {
    if (!out.wantExif) return;
    if (StartsWith(block, std::string_view("Exif\0\0", 6))) block = block.subspan(6);
    if (block.size() > kMaxExifBytes) return Note(notes, "EXIF block too large, not kept");
    if (!StartsWith(block, std::string_view("II*\0", 4)) &&
        !StartsWith(block, std::string_view("MM\0*", 4))) {
        return Note(notes, "damaged EXIF data not kept");
    }
    out.exif.assign(block.begin(), block.end());
}

void KeepIcc(Bytes profile, Reading& out, std::vector<std::string>* notes) {
    if (profile.size() > kMaxIccBytes) return Note(notes, "colour profile too large, not kept");
    // A profile starts with its own size, of at least the 128-byte header.
    if (profile.size() < 128 || LoadBe32(profile.data()) != profile.size()) {
        return Note(notes, "damaged colour profile not kept");
    }
    out.icc.assign(profile.begin(), profile.end());
}

// APP1 "Exif\0\0" (the first one) and APP2 "ICC_PROFILE\0" pieces, numbered 1..count, before
// the first scan.
void ReadJpeg(Bytes file, Reading& out, std::vector<std::string>* notes) {
    constexpr std::string_view kIcc("ICC_PROFILE\0", 12);
    std::array<Bytes, 256> pieces{};
    int pieceCount = 0;  // as the pieces declare it; -1 once they disagree
    std::size_t iccBytes = 0;
    bool exifSeen = false;
    std::size_t at = 2;
    while (at + 4 <= file.size()) {
        if (file[at] != 0xFF) break;
        const std::uint8_t marker = file[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) break;
        const std::size_t length = LoadBe16(file.data() + at + 2);
        if (length < 2 || at + 2 + length > file.size()) break;
        const Bytes payload = file.subspan(at + 4, length - 2);
        if (marker == 0xE1 && !exifSeen && StartsWith(payload, std::string_view("Exif\0\0", 6))) {
            exifSeen = true;
            KeepExif(payload, out, notes);
        } else if (marker == 0xE2 && StartsWith(payload, kIcc) && payload.size() >= 14) {
            const int seq = payload[12], count = payload[13];
            if (pieceCount == 0) pieceCount = count;
            if (count != pieceCount || seq < 1 || seq > count || !pieces[seq].empty()) {
                pieceCount = -1;
            } else {
                pieces[seq] = payload.subspan(14);
                iccBytes += pieces[seq].size();
            }
        }
        at += 2 + length;
    }
    if (pieceCount == 0) return;
    bool whole = pieceCount > 0;
    for (int i = 1; whole && i <= pieceCount; ++i) whole = !pieces[i].empty();
    if (!whole) return Note(notes, "incomplete colour profile not kept");
    if (iccBytes > kMaxIccBytes) return Note(notes, "colour profile too large, not kept");
    std::vector<std::uint8_t> profile;
    profile.reserve(iccBytes);
    for (int i = 1; i <= pieceCount; ++i)
        profile.insert(profile.end(), pieces[i].begin(), pieces[i].end());
    KeepIcc(profile, out, notes);
}

// Inflates a zlib stream of at most kMaxIccBytes; nullopt when it is damaged or longer.
std::optional<std::vector<std::uint8_t>> InflateBounded(Bytes data) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return std::nullopt;
    std::vector<std::uint8_t> out;
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    int status = Z_OK;
    while (status == Z_OK) {
        if (out.size() >= kMaxIccBytes + 1) break;
        const std::size_t had = out.size();
        out.resize(std::min(kMaxIccBytes + 1, std::max<std::size_t>(had * 2, 4096)));
        z.next_out = out.data() + had;
        z.avail_out = static_cast<uInt>(out.size() - had);
        status = inflate(&z, Z_NO_FLUSH);
        out.resize(out.size() - z.avail_out);
        if (status == Z_BUF_ERROR && z.avail_in == 0) break;
    }
    inflateEnd(&z);
    if (status != Z_STREAM_END || out.size() > kMaxIccBytes) return std::nullopt;
    return out;
}

void ReadPng(Bytes file, Reading& out, std::vector<std::string>* notes) {
    std::size_t at = 8;
    while (at + 12 <= file.size()) {
        const std::size_t length = LoadBe32(file.data() + at);
        if (length > file.size() - at - 12) break;
        const Bytes type = file.subspan(at + 4, 4);
        const Bytes data = file.subspan(at + 8, length);
        if (StartsWith(type, "IEND")) break;
        if (StartsWith(type, "eXIf") && out.exif.empty()) {
            KeepExif(data, out, notes);
        } else if (StartsWith(type, "iCCP") && out.icc.empty()) {
            // A name of 1..79 bytes, its NUL, compression method 0, then the zlib stream.
            const Bytes head = data.first(std::min<std::size_t>(80, data.size()));
            const std::size_t name = static_cast<std::size_t>(
                std::find(head.begin(), head.end(), std::uint8_t{0}) - head.begin());
            std::optional<std::vector<std::uint8_t>> profile;
            if (name >= 1 && name < 80 && name + 2 <= data.size() && data[name + 1] == 0)
                profile = InflateBounded(data.subspan(name + 2));
            if (profile) {
                KeepIcc(*profile, out, notes);
            } else {
                Note(notes, "damaged or too large colour profile not kept");
            }
        }
        at += 12 + length;
    }
}

void ReadWebp(Bytes file, Reading& out, std::vector<std::string>* notes) {
    if (file.size() < 12 || !StartsWith(file.subspan(8), "WEBP")) return;
    std::size_t at = 12;
    while (at + 8 <= file.size()) {
        const std::size_t length = LoadLe32(file.data() + at + 4);
        if (length > file.size() - at - 8) break;
        const Bytes type = file.subspan(at, 4);
        const Bytes data = file.subspan(at + 8, length);
        if (StartsWith(type, "EXIF") && out.exif.empty()) KeepExif(data, out, notes);
        if (StartsWith(type, "ICCP") && out.icc.empty()) KeepIcc(data, out, notes);
        at += 8 + length + (length & 1);
    }
}

// The ICC profile (tag 34675, BYTE or UNDEFINED values) of the last directory that has one:
// the reader shows the last page of a file of several.
void ReadTiff(const TFileTiff& tiff, Reading& out, std::vector<std::string>* notes) {
    const TiffEntry* entry = nullptr;
    for (int i = 0; tiff.Valid() && i < tiff.DirectoryCount(); ++i) {
        const TGraphicTiff* dir = tiff.Directory(i);
        if (const TiffEntry* found = dir ? dir->FindEntry(TiffTag::IccProfile) : nullptr)
            entry = found;
    }
    if (!entry || (entry->type != 1 && entry->type != 7) || entry->count <= 4) return;
    if (entry->count > kMaxIccBytes) return Note(notes, "colour profile too large, not kept");
    std::vector<std::uint8_t> profile(entry->count);
    if (!tiff.ReadAt(entry->value, profile.data(), profile.size()))
        return Note(notes, "damaged colour profile not kept");
    KeepIcc(profile, out, notes);
}

void CheckExif(Reading& out, std::vector<std::string>* notes) {
    if (!out.exif.empty() && !ExifReadable(out.exif)) {
        out.exif.clear();
        Note(notes, "damaged EXIF data not kept");
    }
}

void Put16(std::uint8_t* p, std::uint32_t v, bool le) {
    if (le) {
        StoreLe16(p, v);
    } else {
        p[0] = static_cast<std::uint8_t>(v >> 8);
        p[1] = static_cast<std::uint8_t>(v);
    }
}

void Put32(std::uint8_t* p, std::uint32_t v, bool le) {
    if (le) {
        StoreLe32(p, v);
    } else {
        StoreBe32(p, v);
    }
}

constexpr std::uint16_t kShort = 3, kLong = 4, kIfd = 13;

// One directory of an EXIF block, its entries and next-directory link inside the block.
class Directory {
  public:
    Directory(std::vector<std::uint8_t>& block, bool le, std::size_t offset)
        : b_(block), le_(le), offset_(offset) {
        if (offset_ < 8 || offset_ > b_.size() || b_.size() - offset_ < 6) return;
        const std::size_t n = Load16(b_.data() + offset_, le_);
        valid_ = n * 12 <= b_.size() - offset_ - 6;
    }
    bool Valid() const { return valid_; }
    std::size_t Count() const { return Load16(b_.data() + offset_, le_); }
    std::uint8_t* Entry(std::size_t i) { return b_.data() + offset_ + 2 + 12 * i; }
    std::uint16_t Tag(std::size_t i) { return Load16(Entry(i), le_); }
    std::uint16_t Type(std::size_t i) { return Load16(Entry(i) + 2, le_); }
    std::uint32_t ValueCount(std::size_t i) { return Load32(Entry(i) + 4, le_); }
    std::uint32_t Field(std::size_t i) { return Load32(Entry(i) + 8, le_); }
    std::uint8_t* Link() { return Entry(Count()); }

    // Moves the entries after `i` and the link up over it; the freed 12 bytes are zeroed.
    void Remove(std::size_t i) {
        const std::size_t n = Count();
        std::memmove(Entry(i), Entry(i + 1), (n - 1 - i) * 12 + 4);
        std::memset(Entry(n - 1) + 4, 0, 12);
        Put16(b_.data() + offset_, static_cast<std::uint32_t>(n - 1), le_);
    }

    // A size entry (SHORT or LONG, one value) set to `v`, widened to LONG when it does not fit
    // a SHORT; any other shape is removed.
    void SetSize(std::uint16_t tag, std::uint32_t v) {
        for (std::size_t i = 0; i < Count(); ++i) {
            if (Tag(i) != tag) continue;
            if (ValueCount(i) == 1 && Type(i) == kShort && v <= 0xFFFF) {
                Put16(Entry(i) + 8, v, le_);
            } else if (ValueCount(i) == 1 && (Type(i) == kShort || Type(i) == kLong)) {
                Put16(Entry(i) + 2, kLong, le_);
                Put32(Entry(i) + 8, v, le_);
            } else {
                Remove(i);
            }
            return;
        }
    }

  private:
    std::vector<std::uint8_t>& b_;
    bool le_;
    std::size_t offset_;
    bool valid_ = false;
};

}  // namespace

PhotoMetadata ReadPhotoMetadata(std::span<const std::uint8_t> file, ImageFormatCode code,
                                std::vector<std::string>* notes, bool withExif) {
    Reading out;
    out.wantExif = withExif;
    if (code == FormatCode::Jpg || code == FormatCode::Jpeg) {
        if (StartsWith(file, "\xFF\xD8")) ReadJpeg(file, out, notes);
    } else if (code == FormatCode::Png) {
        if (StartsWith(file, "\x89PNG\r\n\x1A\n")) ReadPng(file, out, notes);
    } else if (code == FormatCode::Webp) {
        if (StartsWith(file, "RIFF")) ReadWebp(file, out, notes);
    } else if (code == FormatCode::Tiff) {
        TFileTiff tiff;
        tiff.LoadData(file);
        ReadTiff(tiff, out, notes);
    }
    CheckExif(out, notes);
    return std::move(static_cast<PhotoMetadata&>(out));
}

PhotoMetadata ReadTiffMetadata(const std::filesystem::path& path, std::vector<std::string>* notes) {
    Reading out;
    TFileTiff tiff;
    if (tiff.SetFileName(path)) ReadTiff(tiff, out, notes);
    return std::move(static_cast<PhotoMetadata&>(out));
}

bool ChangeExif(std::vector<std::uint8_t>& exif, const ExifChanges& changes) {
    if (exif.size() < 8) return false;
    const bool le = exif[0] == 'I';
    std::vector<std::uint8_t> block = exif;
    Directory ifd0(block, le, Load32(block.data() + 4, le));
    if (!ifd0.Valid()) return false;
    // The Exif directory first: changes there leave the first directory's layout alone.
    for (std::size_t i = 0; i < ifd0.Count(); ++i) {
        if (ifd0.Tag(i) != 0x8769 || ifd0.ValueCount(i) != 1) continue;
        if (ifd0.Type(i) != kLong && ifd0.Type(i) != kIfd) continue;
        Directory exifIfd(block, le, ifd0.Field(i));
        if (!exifIfd.Valid()) break;
        exifIfd.SetSize(0xA002, static_cast<std::uint32_t>(changes.width));
        exifIfd.SetSize(0xA003, static_cast<std::uint32_t>(changes.height));
        break;
    }
    if (changes.orientation) {
        for (std::size_t i = 0; i < ifd0.Count(); ++i) {
            if (ifd0.Tag(i) != 0x0112) continue;
            if (ifd0.Type(i) == kShort && ifd0.ValueCount(i) == 1) {
                Put16(ifd0.Entry(i) + 8, static_cast<std::uint32_t>(*changes.orientation), le);
            } else {
                ifd0.Remove(i);
            }
            break;
        }
    }
    if (changes.dropThumbnail) Put32(ifd0.Link(), 0, le);
    exif = std::move(block);
    return true;
}

bool ExifReadable(std::span<const std::uint8_t> exif) {
    if (exif.empty() || exif.size() > kMaxExifBytes) return false;
    std::vector<std::uint8_t> segment{'E', 'x', 'i', 'f', 0, 0};
    segment.insert(segment.end(), exif.begin(), exif.end());
    const std::unique_ptr<ExifData, void (*)(ExifData*)> data(exif_data_new(), exif_data_unref);
    if (!data) return false;
    exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(data.get(), segment.data(), static_cast<unsigned int>(segment.size()));
    for (const ExifContent* ifd : data->ifd) {
        if (ifd && ifd->count > 0) return true;
    }
    return false;
}

std::vector<std::uint8_t> PngIccpData(std::span<const std::uint8_t> icc) {
    static constexpr std::string_view kName("ICC profile\0", 12);
    std::vector<std::uint8_t> out(kName.begin(), kName.end());
    out.push_back(0);  // deflate
    uLongf size = compressBound(static_cast<uLong>(icc.size()));
    const std::size_t head = out.size();
    out.resize(head + size);
    if (compress2(out.data() + head, &size, icc.data(), static_cast<uLong>(icc.size()),
                  Z_BEST_COMPRESSION) != Z_OK) {
        return {};
    }
    out.resize(head + size);
    return out;
}

}  // namespace ozm
