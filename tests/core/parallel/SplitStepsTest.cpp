// The per-image steps that share rows out among threads (the BMP, TIFF and GIF writers, the
// 24-bit conversion, the resize) give the same bytes with one thread as with several, for
// images of many pieces at every depth.

#include <gtest/gtest.h>

#include "core/formats/raster/BmpCodec.h"
#include "core/formats/raster/GifCodec.h"
#include "core/formats/tiff/Bmp2Tiff.h"
#include "core/transforms/Resize.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

TEST(SplitSteps, SameBytesWithOneThreadAndWithSeveral) {
    for (const int bitCount : {1, 4, 8, 16, 24, 32}) {
        SCOPED_TRACE(testing::Message() << bitCount << " bits");
        // Several 1 MiB pieces even at 1 bit per pixel; an odd width leaves row padding.
        const Bitmap bmp = test::MakePatternBitmap(2501, bitCount == 1 ? 4000 : 1300, bitCount, 4);
        for (const int threads : {3}) {
            const auto bmpFile = [&](int t) {
                return test::EncodeToBytes([&](std::FILE* f) { return EncodeBmp(bmp, f, t); });
            };
            const auto tiffFile = [&](int t) {
                return test::EncodeToBytes([&](std::FILE* f) { return WriteTiffFile(bmp, f, t); });
            };
            EXPECT_EQ(bmpFile(threads), bmpFile(1));
            EXPECT_EQ(tiffFile(threads), tiffFile(1));
            Bitmap one, several;
            ASSERT_TRUE(ConvertTo24(bmp, one, 1));
            ASSERT_TRUE(ConvertTo24(bmp, several, threads));
            EXPECT_TRUE(one == several);
            ASSERT_TRUE(PointSampleTo24(bmp, one, 1777, 2999, 1));
            ASSERT_TRUE(PointSampleTo24(bmp, several, 1777, 2999, threads));
            EXPECT_TRUE(one == several);
        }
    }
    // GIF's compressor is the slow part; one size per depth class is enough.
    for (const int bitCount : {4, 8, 24}) {
        const Bitmap bmp = test::MakePatternBitmap(1500, 700, bitCount, 8);
        const auto gif = [&](int t) {
            return test::EncodeToBytes([&](std::FILE* f) { return EncodeGif(bmp, f, t); });
        };
        const auto single = gif(1);
        ASSERT_FALSE(single.empty());
        EXPECT_EQ(gif(3), single) << bitCount << " bits";
    }
}

}  // namespace
}  // namespace ozm
