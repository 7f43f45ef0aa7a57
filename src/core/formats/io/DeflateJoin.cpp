#include "core/formats/io/DeflateJoin.h"

#include <array>
#include <bit>
#include <cstring>

#include "core/formats/io/DeflateTables.h"

namespace ozm {

namespace {

constexpr int kMaxCodeBits = 15;
// Codes up to this long are decoded by one look-up; longer ones (rare by their nature) bit by
// bit.
constexpr int kTableBits = 10;

// The stream's bits, first bit of each byte first. Reads past the end give zero bits; the
// position then lies past the end, which the walk checks at every block.
class BitReader {
  public:
    BitReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    // At least 56 bits to take after this.
    void Refill() {
        if (pos_ + 8 <= size_) {
            std::uint64_t word;
            std::memcpy(&word, data_ + pos_, 8);
            if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
            buffer_ |= word << count_;
            pos_ += (63 - count_) >> 3;
            count_ |= 56;
            return;
        }
        while (count_ <= 56) {
            const std::uint64_t byte = pos_ < size_ ? data_[pos_] : 0;
            buffer_ |= byte << count_;
            ++pos_;
            count_ += 8;
        }
    }

    std::uint32_t Peek(int n) const {
        return static_cast<std::uint32_t>(buffer_ & ((std::uint64_t{1} << n) - 1));
    }
    void Drop(int n) {
        buffer_ >>= n;
        count_ -= n;
    }
    std::uint32_t Take(int n) {
        const std::uint32_t v = Peek(n);
        Drop(n);
        return v;
    }

    // Bits taken so far.
    std::size_t Position() const { return pos_ * 8 - static_cast<std::size_t>(count_); }

    // To the next byte boundary, then `bytes` whole bytes further on.
    void SkipBytes(std::size_t bytes) {
        pos_ = (Position() + 7) / 8 + bytes;
        buffer_ = 0;
        count_ = 0;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;       // bytes loaded into the buffer
    std::uint64_t buffer_ = 0;  // bits not taken yet, the next one lowest
    int count_ = 0;             // how many bits the buffer holds
};

// A canonical Huffman code: a table for the short codes, counts and symbols for the long ones.
struct HuffmanCode {
    // Indexed by the next kTableBits bits: symbol << 4 | code length, or 0 for a longer code.
    std::array<std::uint16_t, 1 << kTableBits> fast;
    std::array<std::uint16_t, kMaxCodeBits + 1> count;  // codes of each length
    std::array<std::uint16_t, 288> symbols;             // in code order
};

std::uint32_t Reversed(std::uint32_t code, int bits) {
    std::uint32_t r = 0;
    for (int i = 0; i < bits; ++i, code >>= 1) r = (r << 1) | (code & 1);
    return r;
}

// False for lengths that give more codes than there is room for.
bool Build(HuffmanCode& h, const std::uint8_t* lengths, int n) {
    h.count.fill(0);
    for (int s = 0; s < n; ++s) ++h.count[lengths[s]];
    h.count[0] = 0;
    int left = 1;
    for (int len = 1; len <= kMaxCodeBits; ++len) {
        left = (left << 1) - h.count[len];
        if (left < 0) return false;
    }
    std::array<std::uint16_t, kMaxCodeBits + 2> offset{};
    for (int len = 1; len <= kMaxCodeBits; ++len) offset[len + 1] = offset[len] + h.count[len];
    for (int s = 0; s < n; ++s) {
        if (lengths[s] != 0) h.symbols[offset[lengths[s]]++] = static_cast<std::uint16_t>(s);
    }
    h.fast.fill(0);
    std::uint32_t code = 0;
    int index = 0;
    for (int len = 1; len <= kTableBits; ++len, code <<= 1) {
        for (int i = 0; i < h.count[len]; ++i, ++code, ++index) {
            const auto entry = static_cast<std::uint16_t>(h.symbols[index] << 4 | len);
            for (std::uint32_t r = Reversed(code, len); r < h.fast.size(); r += 1u << len) {
                h.fast[r] = entry;
            }
        }
    }
    return true;
}

struct LongCode {
    int symbol;  // -1 for bits that are no code
    int bits;    // bits it takes
};

// A code longer than the table's, read bit by bit from the bits to come (lowest first).
[[gnu::noinline]] LongCode DecodeLong(const HuffmanCode& h, std::uint64_t next) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= kMaxCodeBits; ++len, next >>= 1) {
        code |= static_cast<int>(next & 1);
        const int count = h.count[len];
        if (code - first < count) return {h.symbols[index + code - first], len};
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return {-1, 0};
}

// The next symbol, or -1 for bits that are no code. Takes at most 15 bits.
[[gnu::always_inline]] inline int Decode(const HuffmanCode& h, BitReader& bits) {
    if (const std::uint16_t entry = h.fast[bits.Peek(kTableBits)]; entry != 0) {
        bits.Drop(entry & 15);
        return entry >> 4;
    }
    const LongCode code = DecodeLong(h, bits.Peek(kMaxCodeBits));
    bits.Drop(code.bits);
    return code.symbol;
}

struct Codes {
    HuffmanCode literals;  // literals, lengths and the end of the block
    HuffmanCode distances;
};

const Codes& FixedCodes() {
    static const Codes fixed = [] {
        Codes c{};
        std::array<std::uint8_t, 288> lengths{};
        for (int s = 0; s < 288; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        Build(c.literals, lengths.data(), 288);
        lengths.fill(5);
        Build(c.distances, lengths.data(), 30);
        return c;
    }();
    return fixed;
}

bool ReadDynamicCodes(BitReader& bits, Codes& codes) {
    bits.Refill();
    const int literals = static_cast<int>(bits.Take(5)) + 257;
    const int distances = static_cast<int>(bits.Take(5)) + 1;
    const int lengthCodes = static_cast<int>(bits.Take(4)) + 4;
    if (literals > 286 || distances > 30) return false;
    std::array<std::uint8_t, 19> codeLengths{};
    for (int i = 0; i < lengthCodes; ++i) {
        bits.Refill();
        codeLengths[deflate::kCodeLengthOrder[i]] = static_cast<std::uint8_t>(bits.Take(3));
    }
    HuffmanCode lengthCode;
    if (!Build(lengthCode, codeLengths.data(), 19)) return false;
    std::array<std::uint8_t, 286 + 30> lengths{};
    for (int i = 0; i < literals + distances;) {
        bits.Refill();
        const int symbol = Decode(lengthCode, bits);
        if (symbol < 0) return false;
        if (symbol < 16) {
            lengths[i++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        std::uint8_t value = 0;
        int repeat = 0;
        if (symbol == 16) {
            if (i == 0) return false;
            value = lengths[i - 1];
            repeat = 3 + static_cast<int>(bits.Take(2));
        } else {
            repeat = symbol == 17 ? 3 + static_cast<int>(bits.Take(3))
                                  : 11 + static_cast<int>(bits.Take(7));
        }
        if (i + repeat > literals + distances) return false;
        for (; repeat > 0; --repeat) lengths[i++] = value;
    }
    return lengths[256] != 0 && Build(codes.literals, lengths.data(), literals) &&
           Build(codes.distances, lengths.data() + literals, distances);
}

struct Walk {
    std::size_t lastBlockBit = 0;  // where the last block's header starts
    std::size_t endBit = 0;        // just after the last block
    std::size_t length = 0;        // bytes the stream stands for
};

// Walks a raw deflate stream to its final block's end; false when it is not a valid stream or
// stands for more than `most` bytes.
bool WalkStream(const std::uint8_t* data, std::size_t size, std::size_t most, Walk& walk) {
    BitReader bits(data, size);
    Codes dynamic;
    std::size_t length = 0;
    for (bool last = false; !last;) {
        bits.Refill();
        walk.lastBlockBit = bits.Position();
        last = bits.Take(1) != 0;
        const std::uint32_t type = bits.Take(2);
        if (type == 0) {
            bits.SkipBytes(0);
            bits.Refill();
            const std::uint32_t stored = bits.Take(16);
            if ((stored ^ bits.Take(16)) != 0xFFFF) return false;
            bits.SkipBytes(stored);
            length += stored;
        } else if (type == 3 || (type == 2 && !ReadDynamicCodes(bits, dynamic))) {
            return false;
        } else {
            const Codes& codes = type == 1 ? FixedCodes() : dynamic;
            // A copy whose address never leaves this loop, so that it can live in registers.
            BitReader in = bits;
            for (;;) {
                // One literal, or a length and a distance with their extra bits: at most 48
                // bits. Photos are mostly literals: after a refill (56 bits at least) two
                // more literal codes of at most 15 bits fit before the next one.
                in.Refill();
                int symbol = Decode(codes.literals, in);
                if (symbol >= 0 && symbol < 256) {
                    ++length;
                    symbol = Decode(codes.literals, in);
                    if (symbol >= 0 && symbol < 256) {
                        ++length;
                        symbol = Decode(codes.literals, in);
                        if (symbol >= 0 && symbol < 256) {
                            ++length;
                            if (length > most) return false;
                            continue;
                        }
                    }
                    // A length and a distance need up to 48 bits of their own.
                    in.Refill();
                }
                if (symbol < 256) {
                    if (symbol < 0) return false;
                    ++length;
                } else if (symbol == 256) {
                    bits = in;
                    break;
                } else {
                    const int l = symbol - 257;
                    if (l >= 29) return false;
                    const std::size_t copy =
                        deflate::kLengthBase[l] + in.Take(deflate::kLengthExtra[l]);
                    const int d = Decode(codes.distances, in);
                    if (d < 0 || d >= 30) return false;
                    const std::size_t distance =
                        deflate::kDistanceBase[d] + in.Take(deflate::kDistanceExtra[d]);
                    if (distance > length) return false;
                    length += copy;
                }
                // Zero bits past the end decode as some code too: the length bounds the walk.
                if (length > most) return false;
            }
        }
        if (bits.Position() > size * 8 || length > most) return false;
    }
    walk.endBit = bits.Position();
    walk.length = length;
    return true;
}

}  // namespace

bool KeepDeflateOpen(std::vector<std::uint8_t>& data, std::size_t length) {
    Walk walk;
    if (!WalkStream(data.data(), data.size(), length, walk) || walk.length != length) return false;
    // Nothing but the padding of the last byte may follow the final block.
    const std::size_t unused = data.size() * 8 - walk.endBit;
    if (unused >= 8) return false;
    data[walk.lastBlockBit / 8] &= static_cast<std::uint8_t>(~(1u << (walk.lastBlockBit % 8)));
    if (unused > 0) data.back() &= static_cast<std::uint8_t>(0xFF >> unused);
    // The stored block's three header bits go into the padding when they fit.
    if (unused < 3) data.push_back(0);
    data.insert(data.end(), {0x00, 0x00, 0xFF, 0xFF});
    return true;
}

}  // namespace ozm
