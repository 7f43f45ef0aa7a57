#pragma once
// Small writers of enhanced and placeable 16-bit metafiles for the tests: records are given
// as a type and 32-bit (or 16-bit) parameters, sizes are filled in.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace ozm::test {

class ByteSink {
  public:
    void U8(std::uint8_t v) { bytes.push_back(v); }
    void U16(std::uint32_t v) {
        U8(static_cast<std::uint8_t>(v));
        U8(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v) {
        U16(v & 0xFFFF);
        U16(v >> 16);
    }
    void Patch32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    std::vector<std::uint8_t> bytes;
};

inline std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}
inline std::uint16_t Le16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

// An enhanced metafile whose reference device is 96 pixels per inch (1920 x 1440 pixels,
// 508 x 381 mm) and whose frame is `width` x `height` of those pixels, so that device units
// are picture pixels.
class EmfBuilder {
  public:
    EmfBuilder(int width, int height, std::uint16_t handles = 8) {
        const auto frame = [](int px, int screenPx, int mm) {
            return static_cast<std::uint32_t>((std::int64_t{px} * mm * 100 + screenPx / 2) /
                                              screenPx);
        };
        out_.U32(1);
        out_.U32(108);
        for (int v : {0, 0, width - 1, height - 1}) out_.U32(static_cast<std::uint32_t>(v));
        out_.U32(0);
        out_.U32(0);
        out_.U32(frame(width, 1920, 508));
        out_.U32(frame(height, 1440, 381));
        out_.U32(0x464D4520);
        out_.U32(0x10000);
        out_.U32(0);  // bytes
        out_.U32(0);  // records
        out_.U16(handles);
        out_.U16(0);
        for (int i = 0; i < 3; ++i) out_.U32(0);
        for (std::uint32_t v : {1920u, 1440u, 508u, 381u, 0u, 0u, 0u, 508000u, 381000u}) {
            out_.U32(v);
        }
        records_ = 1;
    }

    EmfBuilder& Rec(std::uint32_t type, std::initializer_list<std::int64_t> params) {
        out_.U32(type);
        out_.U32(static_cast<std::uint32_t>(8 + 4 * params.size()));
        for (std::int64_t p : params) out_.U32(static_cast<std::uint32_t>(p));
        ++records_;
        return *this;
    }
    // A record with a body already laid out (without the 8-byte type and size).
    EmfBuilder& Raw(std::uint32_t type, const std::vector<std::uint8_t>& body,
                    std::uint32_t sizeOverride = 0) {
        out_.U32(type);
        out_.U32(sizeOverride ? sizeOverride : static_cast<std::uint32_t>(8 + body.size()));
        out_.bytes.insert(out_.bytes.end(), body.begin(), body.end());
        ++records_;
        return *this;
    }
    std::vector<std::uint8_t> Finish(bool withEof = true) {
        if (withEof) Rec(14, {0, 16, 20});
        out_.Patch32(48, static_cast<std::uint32_t>(out_.bytes.size()));
        out_.Patch32(52, records_);
        return out_.bytes;
    }

  private:
    ByteSink out_;
    std::uint32_t records_ = 0;
};

// A placeable 16-bit metafile with a box of `width` x `height` units at `unitsPerInch`.
class WmfBuilder {
  public:
    WmfBuilder(int width, int height, std::uint16_t objects = 8, std::uint16_t unitsPerInch = 96) {
        out_.U32(0x9AC6CDD7);
        out_.U16(0);
        out_.U16(0);
        out_.U16(0);
        out_.U16(static_cast<std::uint32_t>(width));
        out_.U16(static_cast<std::uint32_t>(height));
        out_.U16(unitsPerInch);
        out_.U32(0);
        std::uint16_t sum = 0;
        for (std::size_t i = 0; i < 20; i += 2) sum ^= Le16(out_.bytes, i);
        out_.U16(sum);
        out_.U16(1);
        out_.U16(9);
        out_.U16(0x300);
        out_.U32(0);
        out_.U16(objects);
        out_.U32(0);
        out_.U16(0);
    }
    WmfBuilder& Rec(std::uint16_t function, std::initializer_list<std::int32_t> params) {
        out_.U32(static_cast<std::uint32_t>(3 + params.size()));
        out_.U16(function);
        for (std::int32_t p : params) out_.U16(static_cast<std::uint32_t>(p));
        return *this;
    }
    WmfBuilder& Raw(std::uint16_t function, const std::vector<std::uint8_t>& body) {
        out_.U32(static_cast<std::uint32_t>(3 + (body.size() + 1) / 2));
        out_.U16(function);
        out_.bytes.insert(out_.bytes.end(), body.begin(), body.end());
        if (body.size() % 2) out_.U8(0);
        return *this;
    }
    std::vector<std::uint8_t> Finish(bool withEof = true) {
        if (withEof) Rec(0, {});
        out_.Patch32(22 + 6, static_cast<std::uint32_t>((out_.bytes.size() - 22) / 2));
        return out_.bytes;
    }

  private:
    ByteSink out_;
};

}  // namespace ozm::test
