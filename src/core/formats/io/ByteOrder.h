#pragma once
// Numbers in file bytes: the one set of little- and big-endian loads and stores the readers
// and writers share. Loads take a pointer to bytes the caller has checked are there; they
// never read past the 2 or 4 bytes they name.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace ozm {

constexpr std::uint16_t LoadLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

constexpr std::uint32_t LoadLe32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

constexpr std::uint16_t LoadBe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

constexpr std::uint32_t LoadBe32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

// For formats that name their byte order in the file (TIFF's "II" and "MM").
constexpr std::uint16_t Load16(const std::uint8_t* p, bool littleEndian) {
    return littleEndian ? LoadLe16(p) : LoadBe16(p);
}

constexpr std::uint32_t Load32(const std::uint8_t* p, bool littleEndian) {
    return littleEndian ? LoadLe32(p) : LoadBe32(p);
}

// Stores the low 16 bits of `v`.
constexpr void StoreLe16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

constexpr void StoreLe32(std::uint8_t* p, std::uint32_t v) {
    StoreLe16(p, v);
    StoreLe16(p + 2, v >> 16);
}

constexpr void StoreBe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

// Little-endian numbers and raw bytes appended to a growing buffer, for headers whose layout
// is written front to back.
class LittleEndianWriter {
  public:
    std::uint32_t Size() const { return static_cast<std::uint32_t>(bytes_.size()); }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

    void U8(std::uint32_t v) { bytes_.push_back(static_cast<std::uint8_t>(v)); }
    // Stores the low 16 bits of `v`.
    void U16(std::uint32_t v) {
        U8(v);
        U8(v >> 8);
    }
    void U32(std::uint32_t v) {
        U16(v);
        U16(v >> 16);
    }
    void Text(std::string_view s) { bytes_.insert(bytes_.end(), s.begin(), s.end()); }
    void Append(std::span<const std::uint8_t> b) {
        bytes_.insert(bytes_.end(), b.begin(), b.end());
    }

  private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace ozm
