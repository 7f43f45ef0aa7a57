#include "core/formats/ReadTiffTags.h"

#include <algorithm>

#include "core/formats/FileBytes.h"

namespace ozm {

namespace {

// Bytes per value of the types whose values are read as numbers; 0 for the others.
unsigned ValueSize(std::uint16_t type) {
    switch (type) {
        case TiffType::Byte: return 1;
        case TiffType::Short: return 2;
        case TiffType::Long: return 4;
        default: return 0;
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
    const auto count = file.ReadU16(offset);
    if (!count) {
        broken_ = true;
        return;
    }
    const std::uint64_t first = std::uint64_t{offset} + 2;
    const std::uint64_t after = first + std::uint64_t{*count} * 12;
    if (after > file.FileSize()) {
        broken_ = true;
        return;
    }
    entries_.resize(*count);
    for (std::uint32_t i = 0; i < *count; ++i) {
        const std::uint64_t at = first + std::uint64_t{i} * 12;
        TiffEntry& e = entries_[i];
        e.tag = *file.ReadU16(at);
        e.type = *file.ReadU16(at + 2);
        e.count = *file.ReadU32(at + 4);
        e.fieldOffset = static_cast<std::uint32_t>(at + 8);
        // A single value that fits the field is taken from its first bytes in the file's byte
        // order; anything else is an offset.
        if (e.type == TiffType::Byte && e.count >= 1 && e.count <= 4) {
            e.value = file.Bytes()[at + 8];
        } else if (e.type == TiffType::Short && e.count >= 1 && e.count <= 2) {
            e.value = *file.ReadU16(at + 8);
        } else {
            e.value = *file.ReadU32(at + 8);
        }
    }
    positionAfterEntries_ = static_cast<std::uint32_t>(after);
    ReadStrips();
    const auto next = file.ReadU32(after);
    nextDirectory_ = next.value_or(0);
    if (!next) broken_ = true;
}

void TGraphicTiff::ReadStrips() {
    const TiffEntry* offsets = FindEntry(TiffTag::StripOffsets);
    const TiffEntry* counts = FindEntry(TiffTag::StripByteCounts);
    const std::uint32_t n = offsets ? offsets->count : 0;
    if (n != (counts ? counts->count : 0) || n == 0) return;
    const auto isNumber = [](const TiffEntry* e) {
        return e->type == TiffType::Short || e->type == TiffType::Long;
    };
    if (!isNumber(offsets) || !isNumber(counts)) {
        broken_ = true;
        return;
    }
    const auto offsetValues = owner_->ReadValues(*offsets, kMaxStrips);
    const auto countValues = owner_->ReadValues(*counts, kMaxStrips);
    if (!offsetValues || !countValues) {
        broken_ = true;
        return;
    }
    strips_.resize(n);
    for (std::uint32_t i = 0; i < n; ++i) strips_[i] = {(*offsetValues)[i], (*countValues)[i]};
}

bool TFileTiff::SetFileName(const std::filesystem::path& fileName) {
    if (!fileName.empty() && fileName == fileName_) return true;
    Clear();
    if (fileName.empty()) return true;
    auto bytes = ReadFileBytes(fileName);
    if (!bytes || bytes->size() > UINT32_MAX) return false;
    fileName_ = fileName;
    owned_ = std::move(*bytes);
    data_ = owned_;
    Parse();
    return true;
}

void TFileTiff::LoadData(std::span<const std::uint8_t> data) {
    Clear();
    if (data.size() > UINT32_MAX) return;
    data_ = data;
    Parse();
}

void TFileTiff::Clear() {
    directories_.clear();
    owned_.clear();
    owned_.shrink_to_fit();
    data_ = {};
    fileName_.clear();
    littleEndian_ = true;
    valid_ = false;
}

void TFileTiff::Parse() {
    if (data_.size() < 8) return;
    if (data_[0] == 'I' && data_[1] == 'I') {
        littleEndian_ = true;
    } else if (data_[0] == 'M' && data_[1] == 'M') {
        littleEndian_ = false;
    } else {
        return;
    }
    if (*ReadU16(2) != 42) return;
    valid_ = true;
    std::vector<std::uint32_t> seen;
    std::uint32_t offset = *ReadU32(4);
    while (offset > 7 && static_cast<int>(directories_.size()) <= kMaxDirectories) {
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

std::optional<std::uint16_t> TFileTiff::ReadU16(std::uint64_t offset) const {
    if (offset > data_.size() || data_.size() - offset < 2) return std::nullopt;
    const std::uint8_t* p = data_.data() + offset;
    return littleEndian_ ? static_cast<std::uint16_t>(p[0] | (p[1] << 8))
                         : static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::optional<std::uint32_t> TFileTiff::ReadU32(std::uint64_t offset) const {
    if (offset > data_.size() || data_.size() - offset < 4) return std::nullopt;
    const std::uint8_t* p = data_.data() + offset;
    if (littleEndian_) {
        return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
               (std::uint32_t{p[3]} << 24);
    }
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
           (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

std::optional<std::vector<std::uint32_t>> TFileTiff::ReadValues(const TiffEntry& entry,
                                                                std::uint32_t maxCount) const {
    const unsigned size = ValueSize(entry.type);
    if (size == 0 || entry.count > maxCount) return std::nullopt;
    const std::uint64_t bytes = std::uint64_t{entry.count} * size;
    const std::uint64_t start = bytes <= 4 ? entry.fieldOffset : entry.value;
    if (start > data_.size() || data_.size() - start < bytes) return std::nullopt;
    std::vector<std::uint32_t> values(entry.count);
    for (std::uint32_t i = 0; i < entry.count; ++i) {
        const std::uint64_t at = start + std::uint64_t{i} * size;
        switch (size) {
            case 1: values[i] = data_[at]; break;
            case 2: values[i] = *ReadU16(at); break;
            default: values[i] = *ReadU32(at); break;
        }
    }
    return values;
}

}  // namespace ozm
