#pragma once
// Directory parser of the TIFF reader: the file header and every image directory of a file,
// held in memory. The file stays open for reading the pixels; nothing but the directories is
// read in advance. Every offset and count is checked against the file's size before it is
// used; nothing here allocates more than the file itself can justify.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ozm {

// One 12-byte directory entry, in host order. `value` is the entry's single value when the
// value field holds one (BYTE, SHORT or LONG data that fits the field: its first value), and
// otherwise the field read as a 32-bit offset.
struct TiffEntry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::uint32_t value = 0;
    std::uint32_t fieldOffset = 0;  // file offset of the 4-byte value field
};

struct TiffStrip {
    std::uint32_t offset = 0;
    std::uint32_t byteCount = 0;
};

class TFileTiff;

// One image directory.
class TGraphicTiff {
  public:
    explicit TGraphicTiff(const TFileTiff& owner) : owner_(&owner) {}

    // The last entry with `tag` (a repeated tag: the last one wins); nullptr when absent.
    const TiffEntry* FindEntry(std::uint16_t tag) const;

    // 0 when the directory has no usable strip table: StripOffsets and StripByteCounts
    // missing, of different counts, of more than 65535 values, or unreadable.
    std::uint16_t StripCount() const { return static_cast<std::uint16_t>(strips_.size()); }
    // nullptr outside 0..StripCount()-1.
    const TiffStrip* Strip(int index) const;

    std::uint32_t NextDirectory() const { return nextDirectory_; }

  private:
    friend class TFileTiff;
    void Read(std::uint32_t offset);
    void ReadStrips();

    const TFileTiff* owner_;
    std::vector<TiffEntry> entries_;
    std::uint32_t nextDirectory_ = 0;
    std::vector<TiffStrip> strips_;
};

// The header and the directories of one file.
class TFileTiff {
  public:
    // Directories beyond this index are not reachable; a file with more fails as a whole.
    static constexpr int kMaxDirectories = 256;

    TFileTiff() = default;
    ~TFileTiff();
    TFileTiff(const TFileTiff&) = delete;
    TFileTiff& operator=(const TFileTiff&) = delete;

    // Offsets are 32-bit: no byte past 4 GiB can belong to the file's images.
    static constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 32;

    // Loads the header and all directories of the file; an empty path clears the object.
    // Setting the name already loaded does nothing. False, with `reason` set, when the file
    // could not be opened, is no regular file or is longer than kMaxFileBytes (the object is
    // then empty and not valid); a file that opens but is no TIFF gives true with Valid()
    // false.
    bool SetFileName(const std::filesystem::path& fileName, std::string* reason = nullptr);

    // The same for bytes in memory; `data` must outlive the object or the next load.
    void LoadData(std::span<const std::uint8_t> data);

    // Bytes of the file when it was opened (a file of exactly 4 GiB counts as 2^32 - 1 bytes:
    // the last one cannot be addressed).
    std::uint32_t FileSize() const { return size_; }
    bool LittleEndian() const { return littleEndian_; }
    bool Valid() const { return valid_; }

    // Number of directories in the chain, counting at most kMaxDirectories + 1 of them (the
    // loading stops there: one more than can be used is enough to refuse the file). A chain
    // that comes back to an offset already read ends there.
    int DirectoryCount() const { return static_cast<int>(directories_.size()); }
    // nullptr outside 0..kMaxDirectories-1 and outside the list.
    const TGraphicTiff* Directory(int index) const;

    // Copies `size` bytes at `offset` into `out`. False when they are not all in the file, or
    // the file cannot be read (it may have been cut short since it was opened).
    bool ReadAt(std::uint64_t offset, void* out, std::size_t size) const;

    // Numbers at a file offset in the file's byte order; nullopt past the end of the file.
    std::optional<std::uint16_t> ReadU16(std::uint64_t offset) const;
    std::optional<std::uint32_t> ReadU32(std::uint64_t offset) const;

    // The entry's values as numbers (BYTE, SHORT or LONG; read from the value field when they
    // fit in its 4 bytes, else from the offset it holds). nullopt when the type is none of
    // those, the count is above `maxCount`, or the values lie outside the file.
    std::optional<std::vector<std::uint32_t>> ReadValues(const TiffEntry& entry,
                                                         std::uint32_t maxCount) const;

  private:
    void Clear();
    void Parse();

    std::filesystem::path fileName_;
    int fd_ = -1;
    std::span<const std::uint8_t> memory_;
    std::uint32_t size_ = 0;
    std::vector<TGraphicTiff> directories_;
    bool littleEndian_ = true;
    bool valid_ = false;
};

}  // namespace ozm
