#include "core/formats/io/PixelDeflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>

#include "core/formats/io/DeflateTables.h"

namespace ozm {

namespace {

constexpr std::size_t kWindow = 32768;
constexpr std::size_t kMaxMatch = 258;
// Positions by a hash of their first three bytes: 2^16 entries of 2 bytes (128 KiB). Each
// halving of the table costs photos about 0.3% in size for a few percent of speed.
constexpr int kHashBits = 16;
// A block ends once it covers this many input bytes: short enough for its codes to follow
// the picture from band to band of rows, long enough that its code tables (60 to 100 bytes)
// cost little. 32 to 256 KiB made no difference on photos.
constexpr std::size_t kBlockBytes = 64 * 1024;
constexpr int kLitLenSymbols = 286;
constexpr int kDistanceSymbols = 30;
constexpr int kEndOfBlock = 256;
constexpr int kMaxCodeBits = 15;
constexpr int kMaxCodeLengthBits = 7;

// Length and distance symbols by the length or distance they stand for.
struct Symbols {
    std::array<std::uint8_t, kMaxMatch + 1> lengthSymbol{};  // by length: symbol - 257
    // By distance - 1: below 256 directly, otherwise at 256 + ((distance - 1) >> 7).
    std::array<std::uint8_t, 512> distanceSymbol{};

    Symbols() {
        for (int s = 0; s < 29; ++s) {
            const std::size_t end = s == 28 ? kMaxMatch + 1 : deflate::kLengthBase[s + 1];
            for (std::size_t len = deflate::kLengthBase[s]; len < end; ++len)
                lengthSymbol[len] = static_cast<std::uint8_t>(s);
        }
        for (int s = 0; s < kDistanceSymbols; ++s) {
            const std::size_t first = deflate::kDistanceBase[s] - 1u;
            const std::size_t end = first + (std::size_t{1} << deflate::kDistanceExtra[s]);
            for (std::size_t d1 = first; d1 < end; ++d1)
                distanceSymbol[d1 < 256 ? d1 : 256 + (d1 >> 7)] = static_cast<std::uint8_t>(s);
        }
    }

    int DistanceSymbol(std::size_t distance) const {
        const std::size_t d1 = distance - 1;
        return distanceSymbol[d1 < 256 ? d1 : 256 + (d1 >> 7)];
    }
};

const Symbols& DeflateSymbols() {
    static const Symbols symbols;
    return symbols;
}

std::uint32_t Load32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

std::uint64_t Load64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Bytes equal at `a` and `b`, up to `most`; `b` lies before `a`.
std::size_t MatchLength(const std::uint8_t* a, const std::uint8_t* b, std::size_t most) {
    std::size_t n = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; n + 8 <= most; n += 8) {
            const std::uint64_t x = Load64(a + n) ^ Load64(b + n);
            if (x != 0) return n + static_cast<std::size_t>(std::countr_zero(x)) / 8;
        }
    }
    while (n < most && a[n] == b[n]) ++n;
    return n;
}

// Little-endian bits, first bit lowest, into `out` from its current end.
class BitWriter {
  public:
    explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out), pos_(out.size()) {}

    // Room for `bytes` more, and for the 8-byte stores of Put.
    void Reserve(std::size_t bytes) {
        const std::size_t need = pos_ + bytes + 16;
        if (out_.size() < need) out_.resize(need);
    }

    // Up to 56 bits. The buffer goes out whole every time and the position moves on by the
    // bytes completed, so fewer than 8 bits stay behind: no test, no branch.
    void Put(std::uint64_t bits, int n) {
        buffer_ |= bits << count_;
        count_ += n;
        std::uint64_t word = buffer_;
        if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
        std::memcpy(out_.data() + pos_, &word, 8);
        const int bytes = count_ >> 3;
        pos_ += static_cast<std::size_t>(bytes);
        buffer_ >>= bytes * 8;
        count_ &= 7;
    }

    // Pads the last byte with zero bits.
    void Align() {
        if (count_ > 0) out_[pos_++] = static_cast<std::uint8_t>(buffer_);
        count_ = 0;
        buffer_ = 0;
    }

    // After Align. An empty input has no data pointer to copy from.
    void PutBytes(const std::uint8_t* data, std::size_t n) {
        if (n == 0) return;
        std::memcpy(out_.data() + pos_, data, n);
        pos_ += n;
    }

    void Finish() { out_.resize(pos_); }

  private:
    std::vector<std::uint8_t>& out_;
    std::size_t pos_;
    std::uint64_t buffer_ = 0;
    int count_ = 0;
};

// Lengths of a Huffman code for `freq`, none longer than `maxBits`. At least two symbols get
// a code, so that the code is complete even when one symbol or none occurs.
void CodeLengths(const std::uint32_t* freq, int n, int maxBits, std::uint8_t* lengths) {
    std::array<std::uint16_t, 288> symbols{};
    int m = 0;
    for (int s = 0; s < n; ++s) {
        lengths[s] = 0;
        if (freq[s] != 0) symbols[m++] = static_cast<std::uint16_t>(s);
    }
    if (m < 2) {
        const int a = m == 1 ? symbols[0] : 0;
        lengths[a] = 1;
        lengths[a == 0 ? 1 : 0] = 1;
        return;
    }
    std::sort(symbols.begin(), symbols.begin() + m, [&](std::uint16_t a, std::uint16_t b) {
        return freq[a] != freq[b] ? freq[a] < freq[b] : a < b;
    });
    // Leaves 0..m-1 by rising weight, inner nodes m..2m-2 made in rising weight: the two
    // lightest of both queues join at each step.
    std::array<std::uint32_t, 2 * 288> weight{};
    std::array<std::uint16_t, 2 * 288> parent{};
    for (int i = 0; i < m; ++i) weight[i] = freq[symbols[i]];
    int leaf = 0, node = m;
    for (int next = m; next < 2 * m - 1; ++next) {
        int pick[2];
        for (int& p : pick) {
            p = leaf < m && (node >= next || weight[leaf] <= weight[node]) ? leaf++ : node++;
        }
        weight[next] = weight[pick[0]] + weight[pick[1]];
        parent[pick[0]] = parent[pick[1]] = static_cast<std::uint16_t>(next);
    }
    std::array<std::uint16_t, 2 * 288> depth{};
    std::array<int, 2 * 288> count{};
    for (int i = 2 * m - 3; i >= 0; --i) {
        depth[i] = static_cast<std::uint16_t>(depth[parent[i]] + 1);
        if (i < m) ++count[depth[i]];
    }
    // Too long codes: all get the longest allowed, then codes are moved one level down from
    // the longest shorter level until the lengths fit (Kraft sum exactly 1 again).
    for (int len = maxBits + 1; len < 2 * m; ++len) {
        count[maxBits] += count[len];
        count[len] = 0;
    }
    std::uint32_t total = 0;
    for (int len = 1; len <= maxBits; ++len)
        total += static_cast<std::uint32_t>(count[len]) << (maxBits - len);
    while (total > (std::uint32_t{1} << maxBits)) {
        --count[maxBits];
        for (int len = maxBits - 1; len > 0; --len) {
            if (count[len] != 0) {
                --count[len];
                count[len + 1] += 2;
                break;
            }
        }
        --total;
    }
    // The rarest symbols get the longest codes.
    int at = 0;
    for (int len = maxBits; len > 0; --len) {
        for (int k = 0; k < count[len]; ++k)
            lengths[symbols[at++]] = static_cast<std::uint8_t>(len);
    }
}

// Each symbol's code reversed (to go out first bit lowest) | its length << 16, for one load.
struct Code {
    std::array<std::uint32_t, 288> both{};

    void Put(BitWriter& out, int symbol) const {
        out.Put(both[symbol] & 0xFFFF, static_cast<int>(both[symbol] >> 16));
    }
};

void MakeCode(const std::uint8_t* lengths, int n, Code& code) {
    std::array<std::uint16_t, kMaxCodeBits + 1> count{}, next{};
    for (int s = 0; s < n; ++s) ++count[lengths[s]];
    count[0] = 0;
    std::uint32_t c = 0;
    for (int len = 1; len <= kMaxCodeBits; ++len) {
        c = (c + count[len - 1]) << 1;
        next[len] = static_cast<std::uint16_t>(c);
    }
    for (int s = 0; s < n; ++s) {
        const int len = lengths[s];
        if (len == 0) continue;
        std::uint32_t v = next[len]++, r = 0;
        for (int i = 0; i < len; ++i, v >>= 1) r = (r << 1) | (v & 1);
        code.both[s] = r | static_cast<std::uint32_t>(len) << 16;
    }
}

// The code lengths of both codes as deflate's run-length symbols 0 to 18, each with its
// extra bits' value.
struct LengthRuns {
    std::array<std::uint8_t, kLitLenSymbols + kDistanceSymbols> symbol{};
    std::array<std::uint8_t, kLitLenSymbols + kDistanceSymbols> extra{};
    int count = 0;
    std::array<std::uint32_t, 19> freq{};

    void Add(int s, int e) {
        symbol[count] = static_cast<std::uint8_t>(s);
        extra[count++] = static_cast<std::uint8_t>(e);
        ++freq[s];
    }

    explicit LengthRuns(const std::uint8_t* lengths, int n) {
        for (int i = 0; i < n;) {
            const std::uint8_t v = lengths[i];
            int run = 1;
            while (i + run < n && lengths[i + run] == v) ++run;
            i += run;
            if (v == 0) {
                while (run >= 11) {
                    const int r = std::min(run, 138);
                    Add(18, r - 11);
                    run -= r;
                }
                if (run >= 3) {
                    Add(17, run - 3);
                    run = 0;
                }
            } else {
                Add(v, 0);
                --run;
                while (run >= 3) {
                    const int r = std::min(run, 6);
                    Add(16, r - 3);
                    run -= r;
                }
            }
            for (; run > 0; --run) Add(v, 0);
        }
    }
};

constexpr int kRunExtraBits[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};

// What a match or a literal is expected to cost, in bits, from the codes of the block
// before (for the first block: its own bytes' code for literals, guesses for the rest).
struct Costs {
    std::array<std::uint8_t, 256> literal{};
    std::array<std::uint8_t, kMaxMatch + 1> length{};       // length symbol and its extra bits
    std::array<std::uint8_t, kDistanceSymbols> distance{};  // distance symbol and its extra bits

    void Guess(const Symbols& sym) {
        for (std::size_t len = 3; len <= kMaxMatch; ++len)
            length[len] =
                static_cast<std::uint8_t>(7 + deflate::kLengthExtra[sym.lengthSymbol[len]]);
        for (int s = 0; s < kDistanceSymbols; ++s)
            distance[s] = static_cast<std::uint8_t>(6 + deflate::kDistanceExtra[s]);
    }

    // Literals priced by a code made for `bytes` themselves, so that the first block of a call
    // chooses as well as those after it.
    void LiteralsFrom(const std::uint8_t* bytes, std::size_t size);

    // A symbol the block did not use is priced as a rare one.
    void From(const Symbols& sym, const std::uint8_t* litLen, const std::uint8_t* dist) {
        const auto price = [](std::uint8_t len, int rare) { return len != 0 ? len : rare; };
        for (int b = 0; b < 256; ++b) literal[b] = static_cast<std::uint8_t>(price(litLen[b], 12));
        for (std::size_t len = 3; len <= kMaxMatch; ++len) {
            const int s = sym.lengthSymbol[len];
            length[len] =
                static_cast<std::uint8_t>(price(litLen[257 + s], 12) + deflate::kLengthExtra[s]);
        }
        for (int s = 0; s < kDistanceSymbols; ++s)
            distance[s] =
                static_cast<std::uint8_t>(price(dist[s], 10) + deflate::kDistanceExtra[s]);
    }
};

void Costs::LiteralsFrom(const std::uint8_t* bytes, std::size_t size) {
    std::array<std::uint32_t, 256> freq{};
    for (std::size_t i = 0; i < size; ++i) ++freq[bytes[i]];
    std::array<std::uint8_t, 256> lengths{};
    CodeLengths(freq.data(), 256, kMaxCodeBits, lengths.data());
    for (int b = 0; b < 256; ++b)
        literal[b] = static_cast<std::uint8_t>(lengths[b] != 0 ? lengths[b] : 12);
}

// The choice of literals and matches for one block after another.
class Parser {
  public:
    Parser(const std::uint8_t* in, std::size_t size, std::size_t left, std::size_t above,
           std::uint16_t* head, const Costs& costs, const Symbols& sym)
        : in_(in),
          size_(size),
          left_(left),
          above_(above),
          head_(head),
          costs_(costs),
          sym_(sym),
          searchEnd_(size >= 4 ? size - 3 : 0) {}

    // Parses from `p` until at least `blockEnd` (a match may reach past it); returns where it
    // stopped.
    std::size_t Block(std::size_t p, std::size_t blockEnd, std::uint32_t* items, std::size_t& count,
                      std::uint32_t* litLenFreq, std::uint32_t* distanceFreq);

  private:
    struct Match {
        std::size_t length = 0, distance = 0;
        int gain = 0;  // bits saved against literals
    };

    static std::uint32_t Hash(std::uint32_t three) {
        return (three * 0x9E3779B1u) >> (32 - kHashBits);
    }
    // The position's distance to the last one with the same hash (0 or beyond the window or
    // the start: none), entering the position instead.
    std::size_t Enter(std::size_t p) {
        std::uint16_t& slot = head_[Hash(Load32(in_ + p) & 0xFFFFFFu)];
        const std::size_t d = static_cast<std::uint16_t>(p - slot);
        slot = static_cast<std::uint16_t>(p);
        return d - 1 < kWindow && d <= p ? d : 0;
    }
    void Consider(std::size_t q, std::size_t d, Match& best) const;
    Match Choose(std::size_t q, std::size_t hashed) const;
    // A position where some candidate shares its first three bytes.
    [[gnu::noinline]] std::size_t Found(std::size_t p, std::size_t hashed);

    const std::uint8_t* const in_;
    const std::size_t size_;
    const std::size_t left_, above_;  // 0: none
    std::uint16_t* const head_;       // by hash: the last position, modulo 2^16
    const Costs& costs_;
    const Symbols& sym_;
    const std::size_t searchEnd_;  // positions searched have four bytes to load
    std::uint32_t* items_ = nullptr;
    std::size_t count_ = 0;
    std::uint32_t* litLenFreq_ = nullptr;
    std::uint32_t* distanceFreq_ = nullptr;
};

void Parser::Consider(std::size_t q, std::size_t d, Match& best) const {
    if (((Load32(in_ + q - d) ^ Load32(in_ + q)) & 0xFFFFFFu) != 0) return;
    const std::size_t len = MatchLength(in_ + q, in_ + q - d, std::min(kMaxMatch, size_ - q));
    int literals = 0;
    for (std::size_t i = 0; i < len; ++i) literals += costs_.literal[in_[q + i]];
    const int gain = literals - costs_.length[len] - costs_.distance[sym_.DistanceSymbol(d)];
    if (gain > best.gain) best = {len, d, gain};
}

Parser::Match Parser::Choose(std::size_t q, std::size_t hashed) const {
    Match best;
    if (left_ != 0 && left_ <= q) Consider(q, left_, best);
    if (above_ != 0 && above_ <= q) Consider(q, above_, best);
    if (hashed != 0 && hashed != left_ && hashed != above_) Consider(q, hashed, best);
    return best;
}

std::size_t Parser::Found(std::size_t p, std::size_t hashed) {
    const Match m = Choose(p, hashed);
    if (m.length == 0) {
        items_[count_++] = in_[p];
        ++litLenFreq_[in_[p]];
        return p + 1;
    }
    items_[count_++] = static_cast<std::uint32_t>(m.length << 16 | (m.distance - 1));
    ++litLenFreq_[257 + sym_.lengthSymbol[m.length]];
    ++distanceFreq_[sym_.DistanceSymbol(m.distance)];
    const std::size_t end = p + m.length;
    for (std::size_t q = p + 1; q < end && q < searchEnd_; ++q) {
        head_[Hash(Load32(in_ + q) & 0xFFFFFFu)] = static_cast<std::uint16_t>(q);
    }
    return end;
}

std::size_t Parser::Block(std::size_t p, std::size_t blockEnd, std::uint32_t* items,
                          std::size_t& count, std::uint32_t* litLenFreq,
                          std::uint32_t* distanceFreq) {
    items_ = items;
    count_ = count;
    litLenFreq_ = litLenFreq;
    distanceFreq_ = distanceFreq;
    // Where both fixed candidates lie inside the data and four bytes can be loaded.
    const std::size_t fixedFrom = std::max(left_, above_);
    while (p < blockEnd) {
        if (p >= searchEnd_) {
            items_[count_++] = in_[p];
            ++litLenFreq_[in_[p++]];
            continue;
        }
        if (p < fixedFrom) {
            p = Found(p, Enter(p));
            continue;
        }
        // Most bytes of a photo start no match: one test for the three candidates, with the
        // block's state in registers.
        const std::uint8_t* const in = in_;
        std::uint16_t* const head = head_;
        const std::size_t left = left_ != 0 ? left_ : above_;
        const std::size_t above = above_ != 0 ? above_ : left;
        const std::size_t end = std::min(blockEnd, searchEnd_);
        std::uint32_t* const out = items_;
        std::size_t n = count_;
        std::uint32_t* const freq = litLenFreq_;
        std::size_t hashed = 0;
        for (; p < end; ++p) {
            const std::uint32_t here = Load32(in + p) & 0xFFFFFFu;
            std::uint16_t& slot = head[Hash(here)];
            const std::size_t d = static_cast<std::uint16_t>(p - slot);
            slot = static_cast<std::uint16_t>(p);
            const bool inWindow = d - 1 < kWindow && d <= p;
            const std::uint32_t h = Load32(in + p - (inWindow ? d : 0)) & 0xFFFFFFu;
            const std::uint32_t l = Load32(in + p - left) & 0xFFFFFFu;
            const std::uint32_t a = Load32(in + p - above) & 0xFFFFFFu;
            if (((inWindow & (h == here)) | (l == here) | (a == here)) != 0) {
                hashed = inWindow ? d : 0;
                break;
            }
            out[n++] = in[p];
            ++freq[in[p]];
        }
        count_ = n;
        if (p < end) p = Found(p, hashed);
    }
    count = count_;
    return p;
}

}  // namespace

struct PixelDeflater::State {
    std::vector<std::uint16_t> head;  // by hash of three bytes: the last position, modulo 2^16
    // A literal as its byte; a match as length << 16 | (distance - 1).
    std::vector<std::uint32_t> items;
    std::array<std::uint32_t, kLitLenSymbols> litLenFreq{};
    std::array<std::uint32_t, kDistanceSymbols> distanceFreq{};
    Costs costs;
};

PixelDeflater::PixelDeflater() : state_(std::make_unique<State>()) {}
PixelDeflater::~PixelDeflater() = default;

namespace {

void PutStored(BitWriter& out, const std::uint8_t* data, std::size_t size, bool final) {
    do {
        const std::size_t n = std::min<std::size_t>(size, 65535);
        size -= n;
        out.Put(final && size == 0 ? 1 : 0, 3);
        out.Align();
        const std::uint8_t head[4] = {
            static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
            static_cast<std::uint8_t>(~n), static_cast<std::uint8_t>(~n >> 8)};
        out.PutBytes(head, 4);
        out.PutBytes(data, n);
        data += n;
    } while (size > 0);
}

// One block of `items` standing for `raw` bytes at `data`: with codes made for its symbols,
// or stored when that is shorter. Returns the code lengths used, for the next block's costs.
void WriteBlock(BitWriter& writer, const Symbols& sym, const std::uint32_t* items,
                std::size_t count, std::array<std::uint32_t, kLitLenSymbols>& litLenFreq,
                const std::array<std::uint32_t, kDistanceSymbols>& distanceFreq,
                const std::uint8_t* data, std::size_t raw, bool final,
                std::array<std::uint8_t, kLitLenSymbols>& litLengths,
                std::array<std::uint8_t, kDistanceSymbols>& distLengths) {
    litLenFreq[kEndOfBlock] = 1;
    CodeLengths(litLenFreq.data(), kLitLenSymbols, kMaxCodeBits, litLengths.data());
    CodeLengths(distanceFreq.data(), kDistanceSymbols, kMaxCodeBits, distLengths.data());
    int litLens = kLitLenSymbols;
    while (litLengths[litLens - 1] == 0) --litLens;
    int dists = kDistanceSymbols;
    while (distLengths[dists - 1] == 0) --dists;
    // Both codes' lengths go out as one run-length coded sequence.
    std::array<std::uint8_t, kLitLenSymbols + kDistanceSymbols> lengths{};
    std::copy_n(litLengths.begin(), litLens, lengths.begin());
    std::copy_n(distLengths.begin(), dists, lengths.begin() + litLens);
    const LengthRuns runs(lengths.data(), litLens + dists);
    std::array<std::uint8_t, 19> runLengths{};
    CodeLengths(runs.freq.data(), 19, kMaxCodeLengthBits, runLengths.data());
    int orderCount = 19;
    while (orderCount > 4 && runLengths[deflate::kCodeLengthOrder[orderCount - 1]] == 0)
        --orderCount;

    // The block's size with these codes, against the same bytes stored.
    std::uint64_t bits = 3 + 5 + 5 + 4 + 3 * static_cast<std::uint64_t>(orderCount);
    for (int i = 0; i < 19; ++i)
        bits += static_cast<std::uint64_t>(runs.freq[i]) * (runLengths[i] + kRunExtraBits[i]);
    for (int i = 0; i < kLitLenSymbols; ++i) {
        const int extra = i > 256 ? deflate::kLengthExtra[i - 257] : 0;
        bits += static_cast<std::uint64_t>(litLenFreq[i]) * (litLengths[i] + extra);
    }
    for (int i = 0; i < dists; ++i)
        bits += static_cast<std::uint64_t>(distanceFreq[i]) *
                (distLengths[i] + deflate::kDistanceExtra[i]);
    const std::uint64_t storedBits = (raw + 5 * (raw / 65535 + 1)) * 8;
    if (storedBits <= bits) {
        PutStored(writer, data, raw, final);
        return;
    }
    Code litLen, dist, run;
    MakeCode(litLengths.data(), litLens, litLen);
    MakeCode(distLengths.data(), dists, dist);
    MakeCode(runLengths.data(), 19, run);
    writer.Put(final ? 5 : 4, 3);  // the final flag, then type 2: codes of its own
    writer.Put(static_cast<std::uint32_t>(litLens - 257), 5);
    writer.Put(static_cast<std::uint32_t>(dists - 1), 5);
    writer.Put(static_cast<std::uint32_t>(orderCount - 4), 4);
    for (int i = 0; i < orderCount; ++i) writer.Put(runLengths[deflate::kCodeLengthOrder[i]], 3);
    for (int i = 0; i < runs.count; ++i) {
        const int r = runs.symbol[i];
        run.Put(writer, r);
        if (kRunExtraBits[r] != 0) writer.Put(runs.extra[i], kRunExtraBits[r]);
    }
    // Up to three literals (15 bits each at most) or one match (48 bits at most) a Put.
    for (std::size_t i = 0; i < count;) {
        const std::uint32_t item = items[i++];
        if (item < 256) {
            std::uint64_t bits = litLen.both[item] & 0xFFFF;
            int n = static_cast<int>(litLen.both[item] >> 16);
            for (int more = 0; more < 2 && i < count && items[i] < 256; ++more) {
                const std::uint32_t e = litLen.both[items[i++]];
                bits |= static_cast<std::uint64_t>(e & 0xFFFF) << n;
                n += static_cast<int>(e >> 16);
            }
            writer.Put(bits, n);
            continue;
        }
        const std::size_t len = item >> 16;
        const std::size_t distance = (item & 0xFFFF) + 1;
        const int ls = sym.lengthSymbol[len];
        const int ds = sym.DistanceSymbol(distance);
        const std::uint32_t lc = litLen.both[257 + ls];
        const std::uint32_t dc = dist.both[ds];
        std::uint64_t bits = lc & 0xFFFF;
        int n = static_cast<int>(lc >> 16);
        bits |= static_cast<std::uint64_t>(len - deflate::kLengthBase[ls]) << n;
        n += deflate::kLengthExtra[ls];
        bits |= static_cast<std::uint64_t>(dc & 0xFFFF) << n;
        n += static_cast<int>(dc >> 16);
        bits |= static_cast<std::uint64_t>(distance - deflate::kDistanceBase[ds]) << n;
        n += deflate::kDistanceExtra[ds];
        writer.Put(bits, n);
    }
    litLen.Put(writer, kEndOfBlock);
}

}  // namespace

void PixelDeflater::Deflate(std::span<const std::uint8_t> data, std::size_t pixelBytes,
                            std::size_t rowBytes, bool last, std::vector<std::uint8_t>& out) {
    const Symbols& sym = DeflateSymbols();
    State& s = *state_;
    const std::uint8_t* const in = data.data();
    const std::size_t size = data.size();
    // Room for the worst case at once: every block stored, and its header.
    const std::size_t blocks = size / kBlockBytes + 1;
    const std::size_t bound = size + blocks * (5 * (kBlockBytes / 65535 + 2) + 400) + 64;
    BitWriter writer(out);
    writer.Reserve(bound);
    // An entry never written holds position 0, a real one: every candidate is compared.
    s.head.assign(std::size_t{1} << kHashBits, std::uint16_t{0});
    s.items.resize(kBlockBytes + kMaxMatch + 1);
    s.costs.Guess(sym);
    s.costs.LiteralsFrom(in, std::min(size, kBlockBytes));
    // The two fixed candidates: the pixel to the left and the one above (0: none).
    const std::size_t left = pixelBytes >= 1 && pixelBytes <= kWindow ? pixelBytes : 0;
    const std::size_t above = rowBytes != left && rowBytes <= kWindow ? rowBytes : 0;
    Parser parser(in, size, left, above, s.head.data(), s.costs, sym);

    std::size_t p = 0;
    do {
        const std::size_t blockStart = p;
        std::size_t count = 0;
        s.litLenFreq.fill(0);
        s.distanceFreq.fill(0);
        p = parser.Block(p, std::min(size, p + kBlockBytes), s.items.data(), count,
                         s.litLenFreq.data(), s.distanceFreq.data());
        std::array<std::uint8_t, kLitLenSymbols> litLengths{};
        std::array<std::uint8_t, kDistanceSymbols> distLengths{};
        WriteBlock(writer, sym, s.items.data(), count, s.litLenFreq, s.distanceFreq,
                   in + blockStart, p - blockStart, last && p >= size, litLengths, distLengths);
        s.costs.From(sym, litLengths.data(), distLengths.data());
    } while (p < size);
    if (!last) {
        writer.Put(0, 3);  // an empty stored block, not final, ends on a byte boundary
        writer.Align();
        static constexpr std::uint8_t kEmpty[4] = {0x00, 0x00, 0xFF, 0xFF};
        writer.PutBytes(kEmpty, 4);
    }
    writer.Align();
    writer.Finish();
}

}  // namespace ozm
