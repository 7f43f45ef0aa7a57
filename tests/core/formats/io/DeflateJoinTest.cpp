// Raw deflate streams joined into one: zlib's stored, fixed and dynamic blocks, ending at
// every bit of a byte, inflate as the data they were cut from; damaged streams are refused
// and left as they were. PixelDeflater's streams, whole and in pieces, inflate as their data.

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <set>
#include <vector>

#include "core/formats/io/DeflateJoin.h"
#include "core/formats/io/PixelDeflate.h"

namespace ozm {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Deflate(const std::uint8_t* data, std::size_t size, int level, int strategy) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
    Bytes out(deflateBound(&z, size) + 16);
    z.next_in = const_cast<std::uint8_t*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    return out;
}

Bytes Inflate(const Bytes& stream, std::size_t size) {
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    Bytes out(size + 1);
    z.next_in = const_cast<std::uint8_t*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(out.size() - z.avail_out);
    inflateEnd(&z);
    return out;
}

// Noise, text-like runs of few values, and long repeats.
Bytes Data(int kind, std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes d(size);
    for (std::size_t i = 0; i < size; ++i) {
        d[i] = static_cast<std::uint8_t>(kind == 0 ? rng() : kind == 1 ? 'a' + rng() % 5 : i / 700);
    }
    return d;
}

TEST(DeflateJoin, PiecesOfEveryBlockTypeJoinIntoTheWhole) {
    struct Method {
        int level, strategy;
    };
    // Stored, fixed codes, dynamic codes without and with matches.
    const Method methods[] = {{0, Z_DEFAULT_STRATEGY}, {6, Z_FIXED},    {1, Z_HUFFMAN_ONLY},
                              {1, Z_DEFAULT_STRATEGY}, {9, Z_FILTERED}, {6, Z_RLE}};
    std::set<std::size_t> padding;
    for (const Method& m : methods) {
        for (int kind = 0; kind < 3; ++kind) {
            for (unsigned seed = 1; seed <= 4; ++seed) {
                const Bytes data = Data(kind, 150000 + seed * 977, seed);
                // The second piece is empty; the third spans several blocks.
                const std::size_t cuts[] = {0, 1000 + seed * 13, 1000 + seed * 13, 40000,
                                            data.size()};
                Bytes joined;
                for (std::size_t p = 0; p + 1 < std::size(cuts); ++p) {
                    Bytes piece =
                        Deflate(data.data() + cuts[p], cuts[p + 1] - cuts[p], m.level, m.strategy);
                    if (p + 2 < std::size(cuts)) {
                        const std::size_t before = piece.size();
                        ASSERT_TRUE(KeepDeflateOpen(piece, cuts[p + 1] - cuts[p]))
                            << m.level << " " << m.strategy << " " << kind << " " << seed << " "
                            << p;
                        padding.insert(piece.size() - before);
                    }
                    joined.insert(joined.end(), piece.begin(), piece.end());
                }
                EXPECT_EQ(Inflate(joined, data.size()), data)
                    << m.level << " " << m.strategy << " " << kind;
            }
        }
    }
    // Both ways of appending the stored block were taken.
    EXPECT_EQ(padding, (std::set<std::size_t>{4, 5}));
}

TEST(DeflateJoin, DamagedStreamsAreRefusedUnchanged) {
    const Bytes data = Data(1, 20000, 3);
    const Bytes good = Deflate(data.data(), data.size(), 6, Z_DEFAULT_STRATEGY);
    auto refused = [](Bytes stream, std::size_t length) {
        const Bytes before = stream;
        return !KeepDeflateOpen(stream, length) && stream == before;
    };
    EXPECT_TRUE(refused(good, data.size() - 1));
    EXPECT_TRUE(refused(good, data.size() + 1));
    EXPECT_TRUE(refused(Bytes(good.begin(), good.end() - 1), data.size()));
    Bytes trailing = good;
    trailing.push_back(0);
    EXPECT_TRUE(refused(trailing, data.size()));
    EXPECT_TRUE(refused({}, 0));
    // Random bytes and flipped bits end in a refusal or a valid join, never out of bounds.
    std::mt19937 rng(9);
    for (int i = 0; i < 300; ++i) {
        Bytes noise(rng() % 64);
        for (auto& b : noise) b = static_cast<std::uint8_t>(rng());
        Bytes copy = noise;
        if (KeepDeflateOpen(copy, rng() % 100)) {
            EXPECT_GT(copy.size(), noise.size());
        }
        Bytes flipped = good;
        flipped[rng() % flipped.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        KeepDeflateOpen(flipped, data.size());
    }
}

// Noise (stored blocks), few values, runs longer than a match, photo-like pixel rows, a repeat
// at the window's full distance, positions past 64 KiB, and the smallest inputs; each with
// pixels of 3 bytes and of 1, and rows too wide to look above. Cut in three pieces joined as
// the PNG writer joins its bands, each piece's bytes are the same as when made alone.
TEST(PixelDeflater, StreamsWholeAndInPiecesInflateAsTheirData) {
    std::vector<Bytes> inputs;
    for (const std::size_t n : {0, 1, 2, 3, 4, 7}) inputs.push_back(Data(0, n, 1));
    inputs.push_back(Data(0, 200000, 2));
    inputs.push_back(Data(1, 150000, 3));
    inputs.push_back(Data(2, 300000, 4));
    std::mt19937 rng(5);
    Bytes rows;
    for (int y = 0; y < 300; ++y) {
        rows.push_back(0);
        for (int x = 0; x < 500; ++x)
            for (int c = 0; c < 3; ++c)
                rows.push_back(static_cast<std::uint8_t>(x / 3 + y + c * 40 + rng() % 4));
    }
    inputs.push_back(rows);
    Bytes edge = Data(0, 32768, 6);
    edge.insert(edge.end(), edge.begin(), edge.begin() + 3000);
    inputs.push_back(edge);

    for (const Bytes& data : inputs) {
        for (const auto& [pixel, row] :
             {std::pair<std::size_t, std::size_t>{3, 1501}, {1, 2}, {3, 40000}}) {
            PixelDeflater deflater;
            Bytes whole;
            deflater.Deflate(data, pixel, row, true, whole);
            EXPECT_EQ(Inflate(whole, data.size()), data) << data.size() << " " << pixel;

            const std::size_t cut[4] = {0, data.size() / 3, data.size() * 2 / 3, data.size()};
            Bytes joined;
            for (int i = 0; i < 3; ++i) {
                const std::size_t before = joined.size();
                const std::span piece(data.data() + cut[i], cut[i + 1] - cut[i]);
                deflater.Deflate(piece, pixel, row, i == 2, joined);
                Bytes alone;
                PixelDeflater().Deflate(piece, pixel, row, i == 2, alone);
                EXPECT_TRUE(
                    std::equal(alone.begin(), alone.end(), joined.begin() + before, joined.end()));
            }
            EXPECT_EQ(Inflate(joined, data.size()), data) << data.size() << " " << pixel;
        }
    }
}

}  // namespace
}  // namespace ozm
