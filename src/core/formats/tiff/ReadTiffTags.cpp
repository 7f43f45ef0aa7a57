#include "core/formats/tiff/ReadTiffTags.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/bitmap/Bitmap.h"
#include "core/formats/io/ByteOrder.h"
#include "core/formats/io/FileBytes.h"
#include "core/formats/tiff/TiffTags.h"

namespace ozm {

namespace {

// Bytes per value of the types whose values are read as numbers; 0 for the others.
unsigned ValueSize(std::uint16_t type) {
    switch (type) {
        case TiffType::Byte:
            return 1;
        case TiffType::Short:
            return 2;
        case TiffType::Long:
            return 4;
        default:
            return 0;
    }
}

// Strip tables of more values than this cannot be counted in 16 bits.
constexpr std::uint32_t kMaxStrips = 65535;

}  // namespace

const TiffEntry* TGraphicTiff::FindEntry(std::uint16_t tag) const {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        if (it->tag == tag) return &*it;
    }
    return nullptr;
}

const TiffStrip* TGraphicTiff::Strip(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= strips_.size()) return nullptr;
    return &strips_[static_cast<std::size_t>(index)];
}

void TGraphicTiff::Read(std::uint32_t offset) {
    const TFileTiff& file = *owner_;
    const bool le = file.LittleEndian();
    const auto count = file.ReadU16(offset);
    if (!count) return;
    const std::uint64_t first = std::uint64_t{offset} + 2;
    const std::uint64_t after = first + std::uint64_t{*count} * kTiffEntryBytes;
    if (after > file.FileSize()) return;
    std::vector<std::uint8_t> raw(std::size_t{*count} * kTiffEntryBytes);
    if (!file.ReadAt(first, raw.data(), raw.size())) return;
    entries_.resize(*count);
    for (std::uint32_t i = 0; i < *count; ++i) {
        const std::uint8_t* p = raw.data() + kTiffEntryBytes * i;
        TiffEntry& e = entries_[i];
        e.tag = Load16(p, le);
        e.type = Load16(p + 2, le);
        e.count = Load32(p + 4, le);
        e.fieldOffset = static_cast<std::uint32_t>(first + kTiffEntryBytes * i + 8);
        // A single value that fits the field is taken from its first bytes in the file's byte
        // order; anything else is an offset.
        if (e.type == TiffType::Byte && e.count >= 1 && e.count <= 4) {
            e.value = p[8];
        } else if (e.type == TiffType::Short && e.count >= 1 && e.count <= 2) {
            e.value = Load16(p + 8, le);
        } else {
            e.value = Load32(p + 8, le);
        }
    }
    ReadStrips();
    nextDirectory_ = file.ReadU32(after).value_or(0);
}

void TGraphicTiff::ReadStrips() {
    const TiffEntry* offsets = FindEntry(TiffTag::StripOffsets);
    const TiffEntry* counts = FindEntry(TiffTag::StripByteCounts);
    const std::uint32_t n = offsets ? offsets->count : 0;
    if (n != (counts ? counts->count : 0) || n == 0) return;
    const auto isNumber = [](const TiffEntry* e) {
        return e->type == TiffType::Short || e->type == TiffType::Long;
    };
    if (!isNumber(offsets) || !isNumber(counts)) return;
    const auto offsetValues = owner_->ReadValues(*offsets, kMaxStrips);
    const auto countValues = owner_->ReadValues(*counts, kMaxStrips);
    if (!offsetValues || !countValues) return;
    strips_.resize(n);
    for (std::uint32_t i = 0; i < n; ++i) strips_[i] = {(*offsetValues)[i], (*countValues)[i]};
}

TFileTiff::~TFileTiff() { Clear(); }

bool TFileTiff::SetFileName(const std::filesystem::path& fileName, std::string* reason) {
    if (!fileName.empty() && fileName == fileName_) return true;
    Clear();
    if (fileName.empty()) return true;
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return Refuse(reason, SystemErrorText(errno));
    struct stat st {};
    const char* refusal = nullptr;
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return Refuse(reason, SystemErrorText(error));
    }
    if (!S_ISREG(st.st_mode)) {
        refusal = S_ISDIR(st.st_mode) ? "is a folder" : "not a regular file";
    } else if (st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) > kMaxFileBytes) {
        refusal = "file too large for its format";
    }
    if (refusal) {
        ::close(fd);
        return Refuse(reason, refusal);
    }
    fd_ = fd;
    fileName_ = fileName;
    size_ = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(st.st_size), UINT32_MAX));
    Parse();
    return true;
}

void TFileTiff::LoadData(std::span<const std::uint8_t> data) {
    Clear();
    memory_ = data.first(std::min<std::size_t>(data.size(), UINT32_MAX));
    size_ = static_cast<std::uint32_t>(memory_.size());
    Parse();
}

void TFileTiff::Clear() {
    directories_.clear();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    memory_ = {};
    size_ = 0;
    fileName_.clear();
    littleEndian_ = true;
    valid_ = false;
}

void TFileTiff::Parse() {
    std::uint8_t header[kTiffHeaderBytes];
    if (size_ < kTiffHeaderBytes || !ReadAt(0, header, kTiffHeaderBytes)) return;
    if (header[0] == 'I' && header[1] == 'I') {
        littleEndian_ = true;
    } else if (header[0] == 'M' && header[1] == 'M') {
        littleEndian_ = false;
    } else {
        return;
    }
    if (Load16(header + 2, littleEndian_) != kTiffMagic) return;
    valid_ = true;
    std::vector<std::uint32_t> seen;
    std::uint32_t offset = Load32(header + 4, littleEndian_);
    while (offset >= kTiffHeaderBytes && static_cast<int>(directories_.size()) <= kMaxDirectories) {
        // A chain that points back to a directory already read would never end.
        if (std::find(seen.begin(), seen.end(), offset) != seen.end()) break;
        seen.push_back(offset);
        directories_.emplace_back(*this);
        directories_.back().Read(offset);
        offset = directories_.back().NextDirectory();
    }
}

const TGraphicTiff* TFileTiff::Directory(int index) const {
    if (index < 0 || index >= kMaxDirectories || index >= DirectoryCount()) return nullptr;
    return &directories_[static_cast<std::size_t>(index)];
}

bool TFileTiff::ReadAt(std::uint64_t offset, void* out, std::size_t size) const {
    if (offset > size_ || size_ - offset < size) return false;
    if (size == 0) return true;
    if (fd_ < 0) {
        std::memcpy(out, memory_.data() + offset, size);
        return true;
    }
    auto* dst = static_cast<std::uint8_t*>(out);
    while (size > 0) {
        const ssize_t n = ::pread(fd_, dst, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        dst += n;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<std::uint16_t> TFileTiff::ReadU16(std::uint64_t offset) const {
    std::uint8_t b[2];
    if (!ReadAt(offset, b, 2)) return std::nullopt;
    return Load16(b, littleEndian_);
}

std::optional<std::uint32_t> TFileTiff::ReadU32(std::uint64_t offset) const {
    std::uint8_t b[4];
    if (!ReadAt(offset, b, 4)) return std::nullopt;
    return Load32(b, littleEndian_);
}

std::optional<std::vector<std::uint32_t>> TFileTiff::ReadValues(const TiffEntry& entry,
                                                                std::uint32_t maxCount) const {
    const unsigned size = ValueSize(entry.type);
    if (size == 0 || entry.count > maxCount) return std::nullopt;
    const std::uint64_t bytes = std::uint64_t{entry.count} * size;
    const std::uint64_t start = bytes <= kTiffValueFieldBytes ? entry.fieldOffset : entry.value;
    if (bytes > size_) return std::nullopt;
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(bytes));
    if (!ReadAt(start, raw.data(), raw.size())) return std::nullopt;
    std::vector<std::uint32_t> values(entry.count);
    for (std::uint32_t i = 0; i < entry.count; ++i) {
        const std::uint8_t* p = raw.data() + std::size_t{i} * size;
        values[i] = size == 1   ? *p
                    : size == 2 ? Load16(p, littleEndian_)
                                : Load32(p, littleEndian_);
    }
    return values;
}

}  // namespace ozm
